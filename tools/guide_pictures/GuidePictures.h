#pragma once
#include <QImage>
#include <QString>

// The user guide's pictures, each made by the program's own code: the real
// windows against an emulated meter, and the station's board lines as a
// terminal shows them. Each returns its problem; empty when the picture was
// written.
namespace GuidePictures {

inline const QString kConnected = QStringLiteral("main-window-connected.png");
inline const QString kUpgrading = QStringLiteral("main-window-upgrading.png");
inline const QString kDeviceInfo = QStringLiteral("device-info.png");
inline const QString kStationBoard = QStringLiteral("station-board.png");

// The main window with a meter connected, then part-way through its upgrade.
QString mainWindow(const QString &emulator, const QString &workDir, const QString &outDir);
// Tools, Device Info with two adapters plugged in.
QString deviceInfo(const QString &outDir);
// `ovfw station` with a meter being upgraded, one current, one of a model
// the profile lacks and an empty socket.
QString stationBoard(const QString &emulator, const QString &workDir, const QString &outDir);

// Writes `image` into `outDir` as `name`, marked with the resolution it was
// drawn at so the guide shows it at its natural size; the problem, if any.
QString save(QImage image, const QString &outDir, const QString &name);

} // namespace GuidePictures
