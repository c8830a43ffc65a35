#include "usb/FtChipIdDll.h"
#include <windows.h>

namespace {
template <typename Call>
Call entry(HMODULE library, const char *name)
{
    // The library's calls are plain functions of the types declared.
    return reinterpret_cast<Call>(reinterpret_cast<void *>(::GetProcAddress(library, name)));
}
}

FtChipIdDll::FtChipIdDll() = default;

bool FtChipIdDll::load()
{
    if (tried_)
        return library_ != nullptr;
    tried_ = true;
    // Never from the current folder: only the program's own and the system's.
    library_ = ::LoadLibraryExW(kFileName, nullptr,
                                LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (library_ == nullptr)
        return false;
    count_ = entry<CountCall>(library_, "FTID_GetNumDevices");
    description_ = entry<TextCall>(library_, "FTID_GetDeviceDescription");
    serialNumber_ = entry<TextCall>(library_, "FTID_GetDeviceSerialNumber");
    chipId_ = entry<ChipIdCall>(library_, "FTID_GetDeviceChipID");
    return true;
}

FtChipIdDll::~FtChipIdDll()
{
    if (library_ != nullptr)
        ::FreeLibrary(library_);
}

std::int32_t FtChipIdDll::FTID_GetNumDevices(std::int32_t &count)
{
    if (!load() || count_ == nullptr)
        return LibraryNotLoaded;
    std::uint32_t n = 0;
    const std::int32_t status = count_(&n);
    if (status == Success)
        count = static_cast<std::int32_t>(n);
    return status;
}

std::int32_t FtChipIdDll::FTID_GetDeviceDescription(std::int32_t index, char *buffer, std::int32_t size)
{
    if (!load() || description_ == nullptr)
        return LibraryNotLoaded;
    if (index < 0 || size <= 0)
        return InvalidParameter;
    return description_(static_cast<std::uint32_t>(index), buffer, static_cast<std::uint32_t>(size));
}

std::int32_t FtChipIdDll::FTID_GetDeviceSerialNumber(std::int32_t index, char *buffer, std::int32_t size)
{
    if (!load() || serialNumber_ == nullptr)
        return LibraryNotLoaded;
    if (index < 0 || size <= 0)
        return InvalidParameter;
    return serialNumber_(static_cast<std::uint32_t>(index), buffer, static_cast<std::uint32_t>(size));
}

std::int32_t FtChipIdDll::FTID_GetDeviceChipID(std::int32_t index, std::int32_t &chipId)
{
    if (!load() || chipId_ == nullptr)
        return LibraryNotLoaded;
    if (index < 0)
        return InvalidParameter;
    std::uint32_t id = 0;
    const std::int32_t status = chipId_(static_cast<std::uint32_t>(index), &id);
    if (status == Success)
        chipId = static_cast<std::int32_t>(id);
    return status;
}

std::unique_ptr<ChipIdLibrary> systemChipIdLibrary()
{
    return std::make_unique<FtChipIdDll>();
}
