#pragma once
#include "usb/ChipIdLibrary.h"
#include <vector>

struct libusb_context;
struct libusb_device;
struct libusb_device_descriptor;

// Chip IDs of the USB-serial adapters of the FTDI vendor ID, through libusb
// and libftdi1. Devices are opened without claiming an interface or
// detaching the kernel driver, so a serial port open on an adapter is not
// disturbed.
class FtdiChipIdLibrary : public ChipIdLibrary {
public:
    FtdiChipIdLibrary();
    ~FtdiChipIdLibrary() override;
    FtdiChipIdLibrary(const FtdiChipIdLibrary &) = delete;
    FtdiChipIdLibrary &operator=(const FtdiChipIdLibrary &) = delete;

    std::int32_t FTID_GetNumDevices(std::int32_t &count) override;
    std::int32_t FTID_GetDeviceDescription(std::int32_t index, char *buffer, std::int32_t size) override;
    std::int32_t FTID_GetDeviceSerialNumber(std::int32_t index, char *buffer, std::int32_t size) override;
    std::int32_t FTID_GetDeviceChipID(std::int32_t index, std::int32_t &chipId) override;

private:
    void releaseDevices();
    libusb_device *device(std::int32_t index) const;
    // The adapter at `index` and its USB descriptor, or the failure status.
    std::int32_t describe(std::int32_t index, libusb_device *&dev, libusb_device_descriptor &desc) const;
    // The string descriptor chosen from the adapter's USB descriptor by
    // `which`, zero-terminated in `buffer`; empty where the adapter has none.
    std::int32_t readString(std::int32_t index, std::uint8_t libusb_device_descriptor::*which, char *buffer,
                            std::int32_t size) const;

    libusb_context *usb_ = nullptr;
    bool usbReady_ = false;
    std::vector<libusb_device *> devices_;  // referenced until the next count
};
