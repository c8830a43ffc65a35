// `ovfw ports`: ports 1..16, their devices and state.
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include "usb/AdapterChipIds.h"
#include "usb/FtdiChipIdLibrary.h"
#include <QSerialPortInfo>
#include <optional>

namespace {
// The adapters' chip IDs by serial number, read at the first adapter of the
// chip-ID library's vendor listed: without one the USB library never starts.
using ChipIds = std::optional<QHash<QString, std::uint32_t>>;

// "  chip ID 0x..." for the adapter of this serial number; empty when none
// matches.
QString chipIdText(const QSerialPortInfo &info, ChipIds &ids)
{
    if (info.vendorIdentifier() != FtdiChipIdLibrary::kVendorId || info.serialNumber().isEmpty())
        return {};
    if (!ids) {
        FtdiChipIdLibrary library;
        ids = chipIdsBySerialNumber(library);
    }
    const auto id = ids->constFind(info.serialNumber());
    if (id == ids->cend())
        return {};
    return QStringLiteral("  chip ID 0x%1").arg(*id, 8, 16, QLatin1Char('0'));
}

// What the system says of a USB adapter behind the device; empty otherwise.
QString usbDetails(const QString &device, ChipIds &chipIds)
{
    const QString path = resolvedDevicePath(device);
    if (path.isEmpty())
        return {};
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        if (info.systemLocation() != path || !info.hasVendorIdentifier())
            continue;
        return QStringLiteral("%1:%2  %3  %4  serial %5")
            .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
            .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
            .arg(info.description(), info.manufacturer(), info.serialNumber()) + chipIdText(info, chipIds);
    }
    return {};
}
}

int runPorts(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists ports 1 to 16 as the tool maps them (OVFW_PORTS=\"N=DEVICE,...\" replaces the\n"
        "map; then only the listed ports exist), each with its device and state: present,\n"
        "in use, no permission, missing, not a serial device. For USB adapters also\n"
        "VID:PID, description, manufacturer and serial number, and the chip ID of an\n"
        "FTDI adapter that has one. Touches no meter: each device is only opened and\n"
        "closed. Exit status 0."));
    const int status = CommandLine::parse(parser, args, false);
    if (status >= 0)
        return status;
    const PortMap map = PortMap::fromEnvironment();
    QString out;
    int listed = 0;
    ChipIds chipIds;
    for (int n = 1; n <= PortMap::kPortCount; ++n) {
        const QString device = map.deviceFor(n);
        if (device.isEmpty())
            continue;
        ++listed;
        const QString usb = usbDetails(device, chipIds);
        const QString line = QStringLiteral("%1  %2  %3%4")
                                 .arg(n, 2)
                                 .arg(device, -20)
                                 .arg(portStateText(portState(device)), -24)
                                 .arg(usb.isEmpty() ? QString() : QStringLiteral("  ") + usb);
        out += line.trimmed().prepend(n < 10 ? QStringLiteral(" ") : QString()) + QLatin1Char('\n');
    }
    if (listed == 0)
        out = QStringLiteral("No ports: %1 lists none.\n").arg(QString::fromLatin1(PortMap::kEnvironmentVariable));
    Console::out(out);
    return ExitStatus::Ok;
}
