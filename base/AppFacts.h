#pragma once
#include <QString>

// Fixed facts of the application.
namespace FwUpApp {
inline const QString Title = QStringLiteral("ov Firmware Upgrade");
}
