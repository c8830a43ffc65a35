#include "usb/AdapterChipIds.h"
#include <QByteArray>
#include <QSet>

namespace {
constexpr int kSerialNumberBytes = 256;
}

QHash<QString, std::uint32_t> chipIdsBySerialNumber(ChipIdLibrary &library)
{
    QHash<QString, std::uint32_t> ids;
    std::int32_t count = 0;
    if (library.FTID_GetNumDevices(count) != ChipIdLibrary::Success)
        return ids;
    QSet<QString> seen, shared;
    for (std::int32_t i = 0; i < count; ++i) {
        QByteArray buffer(kSerialNumberBytes, '\0');
        if (library.FTID_GetDeviceSerialNumber(i, buffer.data(), kSerialNumberBytes) != ChipIdLibrary::Success)
            continue;
        const int end = buffer.indexOf('\0');
        const QString serial = QString::fromLatin1(end < 0 ? buffer : buffer.left(end));
        if (serial.isEmpty())
            continue;
        if (seen.contains(serial)) {
            shared.insert(serial);
            continue;
        }
        seen.insert(serial);
        std::int32_t chipId = 0;
        if (library.FTID_GetDeviceChipID(i, chipId) == ChipIdLibrary::Success)
            ids.insert(serial, static_cast<std::uint32_t>(chipId));
    }
    for (const QString &serial : shared)
        ids.remove(serial);
    return ids;
}
