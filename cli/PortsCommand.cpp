// `ovfw ports`: ports 1..16, their devices and state.
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/MeterBoard.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include "usb/AdapterChipIds.h"
#include "usb/UsbAdapter.h"
#include <QJsonObject>
#include <optional>

namespace {
// The adapters' chip IDs by serial number, read at the first adapter of the
// chip-ID library's vendor listed: without one the USB library never starts.
using ChipIds = std::optional<QHash<QString, std::uint32_t>>;

// The USB adapter behind a device, and its chip ID where it has one.
struct UsbFacts {
    UsbAdapter adapter;
    std::optional<std::uint32_t> chipId;
};

std::optional<std::uint32_t> chipIdOf(const UsbAdapter &adapter, ChipIds &ids)
{
    if (adapter.vendorId != ChipIdLibrary::kVendorId || adapter.serialNumber.isEmpty())
        return std::nullopt;
    if (!ids)
        ids = chipIdsBySerialNumber(*systemChipIdLibrary());
    const auto id = ids->constFind(adapter.serialNumber);
    return id == ids->cend() ? std::nullopt : std::optional<std::uint32_t>(*id);
}

std::optional<UsbFacts> usbFactsOf(const QString &device, ChipIds &chipIds)
{
    const QString path = resolvedDevicePath(device);
    if (path.isEmpty())
        return std::nullopt;
    const std::optional<UsbAdapter> adapter = usbAdapterOf(path);
    if (!adapter)
        return std::nullopt;
    return UsbFacts{*adapter, chipIdOf(*adapter, chipIds)};
}

QString chipIdText(std::uint32_t id)
{
    return QStringLiteral("0x%1").arg(id, 8, 16, QLatin1Char('0'));
}

// The state as JSON names it.
QString stateLabel(PortState state)
{
    switch (state) {
    case PortState::Present: return QStringLiteral("present");
    case PortState::InUse: return QStringLiteral("in_use");
    case PortState::LeftExclusive: return QStringLiteral("left_exclusive");
    case PortState::NoPermission: return QStringLiteral("no_permission");
    case PortState::Missing: return QStringLiteral("missing");
    case PortState::NotSerial: return QStringLiteral("not_serial");
    case PortState::OpenFailed: return QStringLiteral("cannot_open");
    }
    return QStringLiteral("unknown");
}

QString textLine(int n, const QString &device, PortState state, const std::optional<UsbFacts> &usb)
{
    QString line = QStringLiteral("%1  %2  %3").arg(n, 2).arg(device, -20).arg(portStateText(state), -24);
    if (usb) {
        line += QStringLiteral("  %1  %2  %3  serial %4")
                    .arg(usb->adapter.vendorProduct(), usb->adapter.description, usb->adapter.manufacturer,
                         usb->adapter.serialNumber);
        if (usb->chipId)
            line += QStringLiteral("  chip ID ") + chipIdText(*usb->chipId);
    }
    return line.trimmed().prepend(n < 10 ? QStringLiteral(" ") : QString()) + QLatin1Char('\n');
}

QJsonObject jsonObject(int n, const QString &device, PortState state, const std::optional<UsbFacts> &usb)
{
    QJsonObject o{{QStringLiteral("port"), n},
                  {QStringLiteral("device"), device},
                  {QStringLiteral("state"), stateLabel(state)},
                  {QStringLiteral("state_text"), portStateText(state)}};
    if (usb)
        o.insert(QStringLiteral("usb"),
                 QJsonObject{{QStringLiteral("vid_pid"), usb->adapter.vendorProduct()},
                             {QStringLiteral("description"), usb->adapter.description},
                             {QStringLiteral("manufacturer"), usb->adapter.manufacturer},
                             {QStringLiteral("serial"), usb->adapter.serialNumber},
                             {QStringLiteral("chip_id"), usb->chipId ? QJsonValue(chipIdText(*usb->chipId))
                                                                      : QJsonValue(QJsonValue::Null)}});
    else
        o.insert(QStringLiteral("usb"), QJsonValue::Null);
    return o;
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
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per port, one per line."));
    parser.addOption(json);
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
        const PortState state = portState(device);
        const std::optional<UsbFacts> usb = usbFactsOf(device, chipIds);
        out += parser.isSet(json) ? jsonLine(jsonObject(n, device, state, usb)) : textLine(n, device, state, usb);
    }
    if (listed == 0 && !parser.isSet(json))
        out = QStringLiteral("No ports: %1 lists none.\n").arg(QString::fromLatin1(PortMap::kEnvironmentVariable));
    Console::out(out);
    return ExitStatus::Ok;
}
