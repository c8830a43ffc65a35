#pragma once
#include <QString>

// What a device name stands for, beyond its spelling: the device it reaches
// (links resolved, so /dev/serial/by-id/... and /dev/ttyUSB0 are one) and,
// for a USB adapter, the adapter's own serial number, which stays with the
// adapter whatever socket or number it gets.
struct DeviceIdentity {
    // Where the kernel's device tree is read: /sys unless this variable names
    // another folder laid out as it is (tests build one).
    static constexpr const char *kSysfsVariable = "OVFW_SYSFS";

    QString realDevice;  // empty when nothing is there
    QString usbSerial;   // empty when not a USB adapter, or one without a serial number

    // The identity of `device`: a path, a link, or a bare name under /dev.
    static DeviceIdentity of(const QString &device, const QString &sysfsRoot = defaultSysfsRoot());
    static QString defaultSysfsRoot();
};
