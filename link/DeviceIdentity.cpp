#include "link/DeviceIdentity.h"
#include "link/PortStatus.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr qint64 kMostSerialBytes = 256;  // a USB string descriptor holds at most 126 characters

// The serial number of the USB device a tty belongs to: from the tty's
// device folder up to the first folder that is a USB device (it names its
// vendor), read from its `serial` attribute. Empty for a tty on another bus.
QString usbSerialOf(const QString &ttyName, const QString &sysfsRoot)
{
    const QString top = QFileInfo(sysfsRoot).canonicalFilePath();
    QString folder = QFileInfo(sysfsRoot + QStringLiteral("/class/tty/") + ttyName + QStringLiteral("/device"))
                         .canonicalFilePath();
    if (top.isEmpty() || ttyName.isEmpty())
        return {};
    while (folder.startsWith(top + QLatin1Char('/'))) {
        const QDir dir(folder);
        if (dir.exists(QStringLiteral("idVendor"))) {
            QFile serial(dir.filePath(QStringLiteral("serial")));
            if (!serial.open(QIODevice::ReadOnly))
                return {};
            return QString::fromUtf8(serial.read(kMostSerialBytes)).trimmed();
        }
        folder = QFileInfo(folder).path();
    }
    return {};
}
}

QString DeviceIdentity::defaultSysfsRoot()
{
    const QString named = qEnvironmentVariable(kSysfsVariable);
    return named.isEmpty() ? QStringLiteral("/sys") : named;
}

DeviceIdentity DeviceIdentity::of(const QString &device, const QString &sysfsRoot)
{
    DeviceIdentity identity;
    identity.realDevice = resolvedDevicePath(device);
    if (!identity.realDevice.isEmpty())
        identity.usbSerial = usbSerialOf(QFileInfo(identity.realDevice).fileName(), sysfsRoot);
    return identity;
}
