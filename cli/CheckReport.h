#pragma once
#include "upgrade/UpgradeImage.h"
#include <QJsonObject>
#include <QString>

// The words of a file check, for people and for JSON.
namespace CheckReport {
QString describe(const UpgradeImage &image);
// Why the file fails its check, said by `ovfw COMMAND`.
QString describeFault(const QString &command, const UpgradeImage &image);
QJsonObject toJson(const UpgradeImage &image);
// A warning on standard error when the name does not follow
// OV<model>_FW<3 or 4 digits>.OVH: its version cannot be told from it.
void warnAboutName(const QString &command, const QString &path);
}
