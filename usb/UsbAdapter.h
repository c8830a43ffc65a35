#pragma once
#include <QString>
#include <optional>

// What the system says of the USB adapter behind a serial device.
struct UsbAdapter {
    int vendorId = 0;
    int productId = 0;
    QString description;
    QString manufacturer;
    QString serialNumber;

    QString vendorProduct() const  // "0403:6001"
    {
        return QStringLiteral("%1:%2").arg(vendorId, 4, 16, QLatin1Char('0')).arg(productId, 4, 16, QLatin1Char('0'));
    }
};

// The adapter behind `device` (a device path on Linux, COMn on Windows), or
// none where it is no USB adapter or the system says nothing of it.
std::optional<UsbAdapter> usbAdapterOf(const QString &device);
