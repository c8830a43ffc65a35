// `ovfw identify [--port N ...]`: who answers on each port.
#include "link/PortMap.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/MeterOutput.h"
#include "cli/MeterRun.h"
#include "cli/StopSignal.h"
#include "link/PortStatus.h"

namespace {
QString describe(const MeterStatus &s)
{
    switch (s.result) {
    case MeterResult::Identified:
        return QStringLiteral("model %1, serial %2, boot loader %3, firmware %4")
            .arg(s.model, s.serial, s.bootVersion, s.firmVersion);
    case MeterResult::BootLoader: return QStringLiteral("boot loader");
    case MeterResult::NoMeter: return QStringLiteral("no meter");
    case MeterResult::Unreadable:
        return QStringLiteral("unreadable reply \"%1\"").arg(s.message) +
               (s.hint.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(s.hint));
    case MeterResult::Interrupted: return QStringLiteral("interrupted");
    default: return QStringLiteral("failed: %1").arg(s.message);
    }
}
}

int runIdentify(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Identifies the meter on each named port or device (every present port when none\n"
        "is named), all at once, with the same exchange as the window's Connect: the meter\n"
        "is quieted and asked for its version. Nothing else is sent: a meter is never\n"
        "changed.\n"
        "One line per port: model, serial, boot-loader and firmware versions; or \"no meter\"\n"
        "(nothing came back); or \"unreadable reply\" with what came back (\\r, \\n, \\xHH for\n"
        "bytes that are not printable). With --probe-boot a port without a version reply is\n"
        "also sent the boot loader's upgrade-mode command (C2 D4 CR): a boot loader answers\n"
        "it (\"boot loader\"), but a meter in normal mode that answered badly SWITCHES into\n"
        "its boot loader and is unusable until it is upgraded.\n"
        "Exit status 0 when every port answered, 1 otherwise, 130 interrupted."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("A port to identify, 1 to 16 (repeatable)."),
                                  QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per event and result."));
    const QCommandLineOption probeBoot(
        QStringLiteral("probe-boot"),
        QStringLiteral("Probe ports without a version reply for a boot loader (switches a meter that answered badly)."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A meter by its device path, for more than the 16 ports (repeatable)."),
                                    QStringLiteral("PATH"));
    parser.addOptions({port, device, json, probeBoot});
    const int status = CommandLine::parse(parser, args, false);
    if (status >= 0)
        return status;
    QList<int> ports;
    if (!CommandLine::portNumbers(parser.values(port), ports))
        return ExitStatus::Usage;
    MeterJobSettings settings;
    settings.mode = MeterJobSettings::Mode::Identify;
    settings.probeBoot = parser.isSet(probeBoot);
    settings.map = PortMap::fromEnvironment();
    if (!CommandLine::portsExist(QStringLiteral("identify"), settings.map, ports))
        return ExitStatus::Usage;
    QList<MeterAddress> devices;
    for (const QString &path : parser.values(device))
        devices << MeterAddress::device(path);
    if (!CommandLine::eachMeterOnce(CommandLine::portAddresses(settings.map, ports) + devices))
        return ExitStatus::Usage;
    if (ports.isEmpty() && devices.isEmpty()) {
        for (int n = 1; n <= PortMap::kPortCount; ++n) {
            const QString device = settings.map.deviceFor(n);
            if (!device.isEmpty() && portState(device) == PortState::Present)
                ports.append(n);
        }
        if (ports.isEmpty()) {
            Console::err(QStringLiteral("ovfw identify: no port is present (see `ovfw ports`)\n"));
            return ExitStatus::MeterFailed;
        }
    }
    StopSignal::install();
    MeterBoard board(CommandLine::portAddresses(settings.map, ports) + devices, parser.isSet(json));
    runMeters(board, settings, false);
    bool allAnswered = true;
    for (const MeterStatus &s : board.all()) {
        allAnswered = allAnswered && (s.result == MeterResult::Identified || s.result == MeterResult::BootLoader);
        if (!board.json())
            Console::out((s.address.portNumber() > 0 ? QStringLiteral("port %1").arg(s.address.portNumber(), 2)
                                                     : s.address.title()) +
                         QStringLiteral(": %1\n").arg(describe(s)));
    }
    if (StopSignal::requested())
        return ExitStatus::Interrupted;
    return allAnswered ? ExitStatus::Ok : ExitStatus::MeterFailed;
}
