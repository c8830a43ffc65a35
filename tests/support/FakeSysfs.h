#pragma once
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A folder laid out as the kernel's device tree for a few ttys, for
// DeviceIdentity::kSysfsVariable: each tty's `device` link leads into a USB
// adapter (with a serial number, or without one when it is empty) or into a
// device on another bus.
class FakeSysfs {
public:
    QString root() const { return dir_.path(); }

    bool addUsbTty(const QString &tty, const QString &serial)
    {
        const QString usbDevice = QStringLiteral("devices/pci0000:00/usb1/1-%1").arg(++adapters_);
        return write(usbDevice + QStringLiteral("/idVendor"), "0403\n") &&
               (serial.isEmpty() || write(usbDevice + QStringLiteral("/serial"), serial.toUtf8() + '\n')) &&
               linkTty(tty, usbDevice + QStringLiteral("/1-%1:1.0/").arg(adapters_) + tty);
    }
    bool addPlatformTty(const QString &tty) { return linkTty(tty, QStringLiteral("devices/platform/serial8250/") + tty); }

private:
    bool write(const QString &relative, const QByteArray &bytes)
    {
        QFile f(dir_.filePath(relative));
        return QDir().mkpath(QFileInfo(f).path()) && f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    bool linkTty(const QString &tty, const QString &deviceFolder)
    {
        const QString classFolder = dir_.filePath(QStringLiteral("class/tty/") + tty);
        return QDir().mkpath(dir_.filePath(deviceFolder)) && QDir().mkpath(classFolder) &&
               QFile::link(dir_.filePath(deviceFolder), classFolder + QStringLiteral("/device"));
    }

    QTemporaryDir dir_;
    int adapters_ = 0;
};
