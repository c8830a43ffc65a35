#pragma once
#include <QString>

// What an upgrade file's name says: "OV" + model code + "_FW" + version +
// ".OVH", as in OV3A_FW0210.OVH. The model and the version are read from the
// name alone, and the file dialog lists the names of one model.
namespace UpgradeFileName {
// The model code the name gives ("3A" from .../OV3A_FW0210.OVH, in capitals
// whatever the name's case), or empty when the name does not follow
// "OV" + model + "_FW...".
QString modelCode(const QString &path);
// Whether the name follows the whole convention: OV<model>_FW, three or
// four digits, .OVH (letters in any case).
bool followsConvention(const QString &path);
// The version text the name stands for, taken by position: 12.04 from
// ...OV3_FW1204.OVH, " 2.04" from ...OV3_FW204.OVH.
QString versionText(const QString &path);
// The file dialog's filter for a model code: one entry,
// "Firmware Upgrade Files (*.OVH)|OV<model>_FW*.OVH".
QString dialogFilter(const QString &modelCode);
}
