#pragma once
#include <cstdint>
#include <memory>

// The adapter chip-ID library the USB device information window reads: a
// count of adapters, then each one's description, serial number and chip ID
// by index. Every call returns a status; 0 is success.
class ChipIdLibrary {
public:
    enum Status : std::int32_t {
        Success = 0,
        UsbUnavailable = 1,    // no USB access on this machine
        DeviceNotFound = 2,    // no adapter with that index
        DeviceNotOpened = 3,   // the adapter cannot be opened (permissions)
        IoError = 4,           // the adapter did not answer
        NoChipId = 5,          // this chip type has no chip ID
        InvalidParameter = 6,
        LibraryNotLoaded = 7,  // the vendor's library is not installed
    };
    // The adapters' vendor (USB vendor ID): only its chips carry an ID.
    static constexpr int kVendorId = 0x0403;

    virtual ~ChipIdLibrary() = default;
    virtual std::int32_t FTID_GetNumDevices(std::int32_t &count) = 0;
    // Fills `buffer` (of `size` bytes) with the zero-terminated description.
    virtual std::int32_t FTID_GetDeviceDescription(std::int32_t index, char *buffer, std::int32_t size) = 0;
    // The same for the adapter's USB serial number.
    virtual std::int32_t FTID_GetDeviceSerialNumber(std::int32_t index, char *buffer, std::int32_t size) = 0;
    virtual std::int32_t FTID_GetDeviceChipID(std::int32_t index, std::int32_t &chipId) = 0;
};

// This platform's library: libusb and libftdi1 on Linux, the vendor's own
// library (loaded when the window asks) on Windows.
std::unique_ptr<ChipIdLibrary> systemChipIdLibrary();
