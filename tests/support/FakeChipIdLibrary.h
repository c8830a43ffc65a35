#pragma once
#include "usb/ChipIdLibrary.h"
#include <QByteArray>
#include <QList>
#include <QStringList>

// A chip-ID library answering from a script: one adapter per entry.
class FakeChipIdLibrary : public ChipIdLibrary {
public:
    struct Adapter {
        QByteArray description;  // copied with its terminator when it fits
        QByteArray serialNumber;  // likewise
        std::int32_t chipId = 0;
        std::int32_t descriptionStatus = Success;
        std::int32_t serialNumberStatus = Success;
        std::int32_t chipIdStatus = Success;
    };

    QList<Adapter> adapters;
    std::int32_t countStatus = Success;
    int calls = 0;

    std::int32_t FTID_GetNumDevices(std::int32_t &count) override
    {
        ++calls;
        if (countStatus == Success)
            count = static_cast<std::int32_t>(adapters.size());
        return countStatus;
    }
    std::int32_t FTID_GetDeviceDescription(std::int32_t index, char *buffer, std::int32_t size) override
    {
        return copyText(index, &Adapter::description, &Adapter::descriptionStatus, buffer, size);
    }
    std::int32_t FTID_GetDeviceSerialNumber(std::int32_t index, char *buffer, std::int32_t size) override
    {
        return copyText(index, &Adapter::serialNumber, &Adapter::serialNumberStatus, buffer, size);
    }
    std::int32_t FTID_GetDeviceChipID(std::int32_t index, std::int32_t &chipId) override
    {
        ++calls;
        if (index < 0 || index >= adapters.size())
            return DeviceNotFound;
        if (adapters[index].chipIdStatus == Success)
            chipId = adapters[index].chipId;
        return adapters[index].chipIdStatus;
    }

private:
    std::int32_t copyText(std::int32_t index, QByteArray Adapter::*text, std::int32_t Adapter::*status, char *buffer,
                          std::int32_t size)
    {
        ++calls;
        if (index < 0 || index >= adapters.size())
            return DeviceNotFound;
        const Adapter &a = adapters[index];
        if (a.*status != Success)
            return a.*status;
        const int n = std::min<int>((a.*text).size(), size);
        std::copy((a.*text).begin(), (a.*text).begin() + n, buffer);
        if (n < size)
            buffer[n] = '\0';
        return Success;
    }
};
