// `ovfw upgrade FILE --port N ...`: every named meter at once, one thread each.
#include "cli/CheckReport.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "upgrade/HexFileCheck.h"
#include "cli/MeterOutput.h"
#include "cli/StopSignal.h"
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>

namespace {
constexpr int kDefaultRetries = 3;
constexpr int kMostRetries = 1000;

struct Options {
    QString file;
    QList<int> ports;
    QStringList devices;
    int retries = kDefaultRetries;
    bool yes = false, force = false, boot = false, noCheck = false, json = false;
    QString logDir;
};

// Parses the command line into `o`; returns -1 to go on or the exit status.
int parseOptions(const QStringList &args, Options &o)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Upgrades the meters on the named ports, all at once, each on its own thread.\n"
        "The file is checked first (as by `ovfw check`); no meter is touched when it fails.\n"
        "Each meter is identified and must be of the model the file name gives\n"
        "(OV<model>_FW<version>.OVH), then switched into its boot loader and sent the\n"
        "file line by line. A meter that does not switch is asked again, and a refused\n"
        "line is sent again, up to --retries times each; then that meter fails alone.\n"
        "Asks once for confirmation (y/N) on a terminal; elsewhere --yes is required.\n"
        "SIGINT/SIGTERM: each meter finishes the line in flight and stops; the summary\n"
        "names the meters left in their boot loader.\n"
        "Exit status: 0 all upgraded, 1 at least one failed, 2 usage error or the file\n"
        "failed its check, 130 interrupted."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The upgrade file."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("A port to upgrade, 1 to 16 (repeatable)."),
                                  QStringLiteral("N"));
    const QCommandLineOption retries(QStringLiteral("retries"),
                                     QStringLiteral("Retries per line and for the switch to the boot loader (default 3)."),
                                     QStringLiteral("K"), QString::number(kDefaultRetries));
    const QCommandLineOption yes(QStringLiteral("yes"), QStringLiteral("Do not ask for confirmation."));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("Upgrade whatever model answers."));
    const QCommandLineOption boot(QStringLiteral("boot"),
                                  QStringLiteral("The meters wait in their boot loader already (no identification)."));
    const QCommandLineOption noCheck(QStringLiteral("no-check"), QStringLiteral("Do not check the file first."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per event and result."));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Write one transcript per meter into DIR."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A meter by its device path, for more than the 16 ports (repeatable)."),
                                    QStringLiteral("PATH"));
    parser.addOptions({port, device, retries, yes, force, boot, noCheck, json, log});
    const int status = CommandLine::parse(parser, args, true);
    if (status >= 0)
        return status;
    o.file = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    if (!CommandLine::portNumbers(parser.values(port), o.ports))
        return ExitStatus::Usage;
    o.devices = parser.values(device);
    if (o.ports.isEmpty() && o.devices.isEmpty()) {
        Console::err(QStringLiteral("ovfw upgrade: name at least one --port or --device\n"));
        return ExitStatus::Usage;
    }
    bool ok = false;
    o.retries = parser.value(retries).toInt(&ok);
    if (!ok || o.retries < 0 || o.retries > kMostRetries) {
        Console::err(QStringLiteral("ovfw upgrade: --retries expects a number from 0 to %1\n").arg(kMostRetries));
        return ExitStatus::Usage;
    }
    o.yes = parser.isSet(yes);
    o.force = parser.isSet(force);
    o.boot = parser.isSet(boot);
    o.noCheck = parser.isSet(noCheck);
    o.json = parser.isSet(json);
    if (parser.isSet(log)) {
        o.logDir = QFileInfo(parser.value(log)).absoluteFilePath();
        if (!QDir().mkpath(o.logDir)) {
            Console::err(QStringLiteral("ovfw upgrade: cannot make the log folder %1\n").arg(o.logDir));
            return ExitStatus::Usage;
        }
    }
    return -1;
}

bool confirmed(const Options &o)
{
    if (o.yes)
        return true;
    if (!Console::inIsTerminal()) {
        Console::err(QStringLiteral("ovfw upgrade: standard input is not a terminal; add --yes to upgrade "
                                    "without confirmation\n"));
        return false;
    }
    QStringList ports;
    for (int p : o.ports)
        ports << QString::number(p);
    ports << o.devices;
    Console::err(QStringLiteral("Upgrade the meters on port%1 %2 with %3?\nThey will be switched into their "
                                "boot loader and are unusable until the upgrade completes. [y/N] ")
                     .arg(ports.size() > 1 ? QStringLiteral("s") : QString(), ports.join(QStringLiteral(", ")),
                          QFileInfo(o.file).fileName()));
    const QString answer = Console::readLine().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

int exitStatus(const QList<MeterStatus> &meters)
{
    if (StopSignal::requested())
        return ExitStatus::Interrupted;
    for (const MeterStatus &s : meters)
        if (s.result != MeterResult::Completed)
            return ExitStatus::MeterFailed;
    return ExitStatus::Ok;
}
}

int runUpgrade(const QStringList &args)
{
    Options o;
    const int status = parseOptions(args, o);
    if (status >= 0)
        return status;

    qint64 totalLines = 0;
    if (!o.noCheck) {
        const FileCheckReport report = checkUpgradeFile(o.file);
        if (o.json)
            writeJsonLine(CheckReport::toJson(o.file, report));
        if (!report.ok) {
            Console::err(CheckReport::describeFault(o.file, report) +
                         QStringLiteral("No meter was touched (--no-check sends the file as it is).\n"));
            return ExitStatus::Usage;
        }
        totalLines = report.lines;
    } else {
        totalLines = countUpgradeLines(o.file);
        if (totalLines < 0) {
            Console::err(QStringLiteral("ovfw upgrade: %1 cannot be read\n").arg(o.file));
            return ExitStatus::Usage;
        }
    }
    const QString model = UpgradeFileName::modelCode(o.file);
    if (model.isEmpty() && !o.force && !o.boot) {
        Console::err(QStringLiteral("ovfw upgrade: the file name gives no model (expected OV<model>_FW<version>.OVH); "
                                    "--force upgrades whatever model answers\n"));
        return ExitStatus::Usage;
    }
    if (!confirmed(o))
        return ExitStatus::Usage;

    StopSignal::install();
    MeterJobSettings settings;
    settings.mode = MeterJobSettings::Mode::Upgrade;
    settings.map = PortMap::fromEnvironment();
    settings.filePath = o.file;
    settings.fileModel = model;
    settings.retries = o.retries;
    settings.force = o.force;
    settings.boot = o.boot;
    settings.logDir = o.logDir;
    QList<int> meters = o.ports;
    for (const QString &path : o.devices)
        meters << settings.map.addNamedDevice(path);
    MeterBoard board(meters, o.json);
    for (int i = 0; i < board.size(); ++i)
        board.update(i, [&](MeterStatus &s) {
            s.totalLines = totalLines;
            s.device = settings.map.deviceFor(s.port);
        });
    MeterOutput::runMeters(board, settings, Console::outIsTerminal());

    const QList<MeterStatus> results = board.all();
    const int exit = exitStatus(results);
    if (o.json) {
        QJsonArray leftInBoot;
        int completed = 0;
        for (const MeterStatus &s : results) {
            completed += s.result == MeterResult::Completed;
            if (s.leftInBootLoader)
                leftInBoot.append(namedByDevice(s.port) ? QJsonValue(s.device) : QJsonValue(s.port));
        }
        writeJsonLine({{QStringLiteral("event"), QStringLiteral("summary")},
                       {QStringLiteral("meters"), results.size()},
                       {QStringLiteral("completed"), completed},
                       {QStringLiteral("failed"), results.size() - completed},
                       {QStringLiteral("left_in_boot_loader"), leftInBoot},
                       {QStringLiteral("interrupted"), StopSignal::requested()},
                       {QStringLiteral("exit_status"), exit}});
    } else {
        Console::out(QLatin1Char('\n') + MeterOutput::summary(results) +
                     MeterOutput::bootLoaderAdvice(results, o.file));
    }
    return exit;
}
