#include "usb/FtdiChipIdLibrary.h"
#include <cstring>
#include <ftdi.h>
#include <libusb.h>

namespace {

// Only FT232R/FT245R chips (device release 6.00) carry a chip ID.
constexpr std::uint16_t kChipWithIdRelease = 0x0600;

// An opened adapter, closed when it goes out of scope.
struct OpenDevice {
    libusb_device_handle *handle = nullptr;
    explicit OpenDevice(libusb_device *dev) { libusb_open(dev, &handle); }
    ~OpenDevice()
    {
        if (handle)
            libusb_close(handle);
    }
};

} // namespace

FtdiChipIdLibrary::FtdiChipIdLibrary()
{
    usbReady_ = libusb_init(&usb_) == 0;
}

FtdiChipIdLibrary::~FtdiChipIdLibrary()
{
    releaseDevices();
    if (usbReady_)
        libusb_exit(usb_);
}

void FtdiChipIdLibrary::releaseDevices()
{
    for (libusb_device *d : devices_)
        libusb_unref_device(d);
    devices_.clear();
}

libusb_device *FtdiChipIdLibrary::device(std::int32_t index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= devices_.size())
        return nullptr;
    return devices_[static_cast<std::size_t>(index)];
}

std::int32_t FtdiChipIdLibrary::FTID_GetNumDevices(std::int32_t &count)
{
    if (!usbReady_)
        return UsbUnavailable;
    releaseDevices();
    libusb_device **list = nullptr;
    const ssize_t n = libusb_get_device_list(usb_, &list);
    if (n < 0)
        return UsbUnavailable;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor desc{};
        if (libusb_get_device_descriptor(list[i], &desc) == 0 && desc.idVendor == kVendorId)
            devices_.push_back(libusb_ref_device(list[i]));
    }
    libusb_free_device_list(list, 1);
    count = static_cast<std::int32_t>(devices_.size());
    return Success;
}

std::int32_t FtdiChipIdLibrary::describe(std::int32_t index, libusb_device *&dev,
                                         libusb_device_descriptor &desc) const
{
    dev = device(index);
    if (!dev)
        return DeviceNotFound;
    return libusb_get_device_descriptor(dev, &desc) == 0 ? Success : IoError;
}

std::int32_t FtdiChipIdLibrary::readString(std::int32_t index, std::uint8_t libusb_device_descriptor::*which,
                                          char *buffer, std::int32_t size) const
{
    if (!buffer || size <= 0)
        return InvalidParameter;
    libusb_device *dev = nullptr;
    libusb_device_descriptor desc{};
    if (const std::int32_t status = describe(index, dev, desc); status != Success)
        return status;
    OpenDevice open(dev);
    if (!open.handle)
        return DeviceNotOpened;
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    const std::uint8_t stringIndex = desc.*which;
    if (stringIndex == 0)
        return Success;  // the adapter has no such string
    const int got = libusb_get_string_descriptor_ascii(
        open.handle, stringIndex, reinterpret_cast<unsigned char *>(buffer), size);
    if (got < 0)
        return IoError;
    buffer[got < size ? got : size - 1] = '\0';
    return Success;
}

std::int32_t FtdiChipIdLibrary::FTID_GetDeviceDescription(std::int32_t index, char *buffer, std::int32_t size)
{
    return readString(index, &libusb_device_descriptor::iProduct, buffer, size);
}

std::int32_t FtdiChipIdLibrary::FTID_GetDeviceSerialNumber(std::int32_t index, char *buffer, std::int32_t size)
{
    return readString(index, &libusb_device_descriptor::iSerialNumber, buffer, size);
}

std::int32_t FtdiChipIdLibrary::FTID_GetDeviceChipID(std::int32_t index, std::int32_t &chipId)
{
    libusb_device *dev = nullptr;
    libusb_device_descriptor desc{};
    if (const std::int32_t status = describe(index, dev, desc); status != Success)
        return status;
    if (desc.bcdDevice != kChipWithIdRelease)
        return NoChipId;
    OpenDevice open(dev);
    if (!open.handle)
        return DeviceNotOpened;
    ftdi_context *ftdi = ftdi_new();
    if (!ftdi)
        return IoError;
    // Two vendor reads on the open handle; no interface is claimed.
    ftdi_set_usbdev(ftdi, open.handle);
    ftdi->type = TYPE_R;
    unsigned int id = 0;
    const int rc = ftdi_read_chipid(ftdi, &id);
    ftdi_set_usbdev(ftdi, nullptr);  // the handle is ours to close
    ftdi_free(ftdi);
    if (rc != 0)
        return IoError;
    chipId = static_cast<std::int32_t>(id);
    return Success;
}

std::unique_ptr<ChipIdLibrary> systemChipIdLibrary()
{
    return std::make_unique<FtdiChipIdLibrary>();
}
