#pragma once
#include "usb/ChipIdLibrary.h"

struct HINSTANCE__;

// The adapter vendor's chip-ID library (FTChipID.dll), loaded at its first
// call from the program's folder or the system's search path. Where it is not
// installed, every call answers LibraryNotLoaded, which the device window
// lists as any other failed status.
class FtChipIdDll : public ChipIdLibrary {
public:
    static constexpr const wchar_t *kFileName = L"FTChipID.dll";

    FtChipIdDll();
    ~FtChipIdDll() override;
    FtChipIdDll(const FtChipIdDll &) = delete;
    FtChipIdDll &operator=(const FtChipIdDll &) = delete;

    std::int32_t FTID_GetNumDevices(std::int32_t &count) override;
    std::int32_t FTID_GetDeviceDescription(std::int32_t index, char *buffer, std::int32_t size) override;
    std::int32_t FTID_GetDeviceSerialNumber(std::int32_t index, char *buffer, std::int32_t size) override;
    std::int32_t FTID_GetDeviceChipID(std::int32_t index, std::int32_t &chipId) override;

private:
    using CountCall = std::int32_t(__stdcall *)(std::uint32_t *count);
    using TextCall = std::int32_t(__stdcall *)(std::uint32_t index, char *buffer, std::uint32_t size);
    using ChipIdCall = std::int32_t(__stdcall *)(std::uint32_t index, std::uint32_t *chipId);

    bool load();

    bool tried_ = false;
    HINSTANCE__ *library_ = nullptr;
    CountCall count_ = nullptr;
    TextCall description_ = nullptr;
    TextCall serialNumber_ = nullptr;
    ChipIdCall chipId_ = nullptr;
};
