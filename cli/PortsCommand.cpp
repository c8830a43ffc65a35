// `ovfw ports`: ports 1..16, their devices and state.
#include "link/PortMap.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include <QSerialPortInfo>

namespace {
// What the system says of a USB adapter behind the device; empty otherwise.
QString usbDetails(const QString &device)
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
            .arg(info.description(), info.manufacturer(), info.serialNumber());
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
        "VID:PID, description, manufacturer and serial number. Touches no meter: each\n"
        "device is only opened and closed. Exit status 0."));
    const int status = CommandLine::parse(parser, args, false);
    if (status >= 0)
        return status;
    const PortMap map = PortMap::fromEnvironment();
    QString out;
    int listed = 0;
    for (int n = 1; n <= PortMap::kPortCount; ++n) {
        const QString device = map.deviceFor(n);
        if (device.isEmpty())
            continue;
        ++listed;
        const QString usb = usbDetails(device);
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
