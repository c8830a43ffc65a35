#include "usb/UsbAdapter.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
constexpr qint64 kAttributeBytes = 256;

QString attribute(const QDir &dir, const char *name)
{
    QFile file(dir.filePath(QString::fromLatin1(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(kAttributeBytes)).trimmed();
}
}

// The tty's device in sysfs, then up through its parents to the USB device
// that carries the vendor and product IDs.
std::optional<UsbAdapter> usbAdapterOf(const QString &device)
{
    const QString name = QFileInfo(device).fileName();
    if (name.isEmpty())
        return std::nullopt;
    QString path = QFileInfo(QStringLiteral("/sys/class/tty/%1/device").arg(name)).canonicalFilePath();
    while (path.startsWith(QLatin1String("/sys/devices/"))) {
        const QDir dir(path);
        bool vendorOk = false, productOk = false;
        const int vendor = attribute(dir, "idVendor").toInt(&vendorOk, 16);
        const int product = attribute(dir, "idProduct").toInt(&productOk, 16);
        if (vendorOk && productOk)
            return UsbAdapter{vendor, product, attribute(dir, "product"), attribute(dir, "manufacturer"),
                              attribute(dir, "serial")};
        path = QFileInfo(path).path();
    }
    return std::nullopt;
}
