#pragma once
#include "upgrade/HexFileCheck.h"
#include <QJsonObject>
#include <QString>

// The words of a file check, for people and for JSON.
namespace CheckReport {
QString describe(const QString &path, const FileCheckReport &report);
QString describeFault(const QString &path, const FileCheckReport &report);
QJsonObject toJson(const QString &path, const FileCheckReport &report);
}
