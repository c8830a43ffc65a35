// `ovfw upgrade FILE --port N ...`: every named meter at once, one thread each.
#include "base/Escaped.h"
#include "cli/CheckReport.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "upgrade/FileFacts.h"
#include "upgrade/HexFileCheck.h"
#include "upgrade/TransferPolicy.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeFileName.h"
#include "cli/MeterOutput.h"
#include "cli/MeterRun.h"
#include "cli/RecordsClient.h"
#include "cli/StopSignal.h"
#include "power/SleepInhibitor.h"
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryFile>

namespace {
constexpr int kMostRetries = 1000;
constexpr int kSha256HexDigits = 64;

struct Options {
    QString file;
    PortMap map;
    QList<MeterAddress> meters;  // the ports named, then the devices
    int retries = TransferPolicy::kUnattendedRetries;
    bool yes = false, force = false, boot = false, noCheck = false, json = false, verify = false;
    QString logDir;
    QString sha256;  // the digest the file must have, lower case; empty: not asked for
    Verbosity verbosity = Verbosity::Normal;
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
        "SIGINT/SIGTERM/SIGHUP: each meter finishes the line in flight and stops; the\n"
        "summary names the meters left in their boot loader. A second signal ends ovfw at\n"
        "once, without the summary, naming on standard error the meters that may be in\n"
        "their boot loader.\n"
        "Exit status: 0 all upgraded, 1 at least one failed, 2 usage error or the file\n"
        "failed its check (or its --sha256), 130 interrupted (when not every meter was\n"
        "upgraded). Every attempt is recorded in the upgrade history (see `ovfw history`)."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The upgrade file."));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("A port to upgrade, 1 to 16 (repeatable)."),
                                  QStringLiteral("N"));
    const QCommandLineOption retries(QStringLiteral("retries"),
                                     QStringLiteral("Retries per line and for the switch to the boot loader (default 3)."),
                                     QStringLiteral("K"), QString::number(TransferPolicy::kUnattendedRetries));
    const QCommandLineOption yes({QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("Do not ask for confirmation."));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("Upgrade whatever model answers."));
    const QCommandLineOption boot(QStringLiteral("boot"),
                                  QStringLiteral("The meters may wait in their boot loader already. A meter that "
                                                 "answers in normal mode is identified and switched as usual; a boot "
                                                 "loader must be of the model the history last identified on its "
                                                 "adapter (by USB serial number), else on its device, and none known "
                                                 "is refused unless --force."));
    const QCommandLineOption noCheck(QStringLiteral("no-check"), QStringLiteral("Do not check the file first."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per event and result."));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Write one transcript per meter into DIR."),
                                 QStringLiteral("DIR"));
    const QCommandLineOption sha256(QStringLiteral("sha256"),
                                    QStringLiteral("Refuse the file unless its SHA-256 digest is HEX (64 hex digits; "
                                                   "any other value is a usage error)."),
                                    QStringLiteral("HEX"));
    const QCommandLineOption verify(QStringLiteral("verify"),
                                    QStringLiteral("After the upgrade, identify each meter again and compare its "
                                                   "firmware version with the file's; a meter that differs fails."));
    const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("Show only errors and the summary."));
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                                     QStringLiteral("Show each retry and presumed restart, with its reason, as it "
                                                    "happens."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("A meter by its device path, for more than the 16 ports (repeatable)."),
                                    QStringLiteral("PATH"));
    parser.addOptions({port, device, retries, yes, force, boot, noCheck, json, log, sha256, verify, quiet, verbose});
    const int status = CommandLine::parse(parser, args, true);
    if (status >= 0)
        return status;
    o.file = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    QList<int> ports;
    if (!CommandLine::portNumbers(parser.values(port), ports))
        return ExitStatus::Usage;
    if (ports.isEmpty() && !parser.isSet(device)) {
        Console::err(QStringLiteral("ovfw upgrade: name at least one --port or --device\n"));
        return ExitStatus::Usage;
    }
    o.map = PortMap::fromEnvironment();
    if (!CommandLine::portsExist(QStringLiteral("upgrade"), o.map, ports))
        return ExitStatus::Usage;
    o.meters = CommandLine::portAddresses(o.map, ports);
    for (const QString &path : parser.values(device))
        o.meters << MeterAddress::device(path);
    if (!CommandLine::eachMeterOnce(o.meters))
        return ExitStatus::Usage;
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
    o.verify = parser.isSet(verify);
    if (parser.isSet(quiet) && parser.isSet(verbose)) {
        Console::err(QStringLiteral("ovfw upgrade: choose --quiet or --verbose\n"));
        return ExitStatus::Usage;
    }
    o.verbosity = parser.isSet(quiet) ? Verbosity::Quiet : parser.isSet(verbose) ? Verbosity::Verbose : Verbosity::Normal;
    // An unset variable in a script must not turn the check off unseen.
    static const QRegularExpression digest(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9A-Fa-f]{%1}").arg(kSha256HexDigits)));
    for (const QString &value : parser.values(sha256)) {
        if (!digest.match(value).hasMatch()) {
            Console::err(QStringLiteral("ovfw upgrade: --sha256 expects the file's SHA-256 digest, %1 hex digits "
                                        "(`ovfw check` prints it), not \"%2\"\n")
                             .arg(kSha256HexDigits)
                             .arg(Escaped::text(value)));
            return ExitStatus::Usage;
        }
        o.sha256 = value.toLower();
    }
    if (parser.isSet(log)) {
        o.logDir = QFileInfo(parser.value(log)).absoluteFilePath();
        if (!QDir().mkpath(o.logDir)) {
            Console::err(QStringLiteral("ovfw upgrade: cannot make the log folder %1\n").arg(Escaped::text(o.logDir)));
            return ExitStatus::Usage;
        }
        // A folder that exists but takes no file would leave every meter without its transcript.
        QTemporaryFile probe(QDir(o.logDir).filePath(QStringLiteral(".ovfw-XXXXXX")));
        if (!probe.open()) {
            Console::err(QStringLiteral("ovfw upgrade: cannot write into the log folder %1: %2\n")
                             .arg(Escaped::text(o.logDir), probe.errorString()));
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
    for (const MeterAddress &meter : o.meters)
        ports << (meter.form() == MeterAddress::Form::Port ? QString::number(meter.portNumber()) : meter.displayName());
    Console::err(QStringLiteral("Upgrade the meters on port%1 %2 with %3?\nThey will be switched into their "
                                "boot loader and are unusable until the upgrade completes. [y/N] ")
                     .arg(ports.size() > 1 ? QStringLiteral("s") : QString(), ports.join(QStringLiteral(", ")),
                          Escaped::text(QFileInfo(o.file).fileName())));
    const QString answer = Console::readLine().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}

// Every meter upgraded is success, even when a stop came too late to matter.
int exitStatus(const QList<MeterStatus> &meters)
{
    bool allCompleted = true;
    for (const MeterStatus &s : meters)
        allCompleted = allCompleted && s.result == MeterResult::Completed;
    if (allCompleted)
        return ExitStatus::Ok;
    return StopSignal::requested() ? ExitStatus::Interrupted : ExitStatus::MeterFailed;
}
}

int runUpgrade(const QStringList &args)
{
    Options o;
    const int status = parseOptions(args, o);
    if (status >= 0)
        return status;

    // Read once, here, before any meter: every meter is sent this checked copy.
    const auto checked = std::make_shared<const UpgradeImage>(o.file);
    const FileCheckReport &report = checked->report();
    if (!o.noCheck && o.json)
        writeJsonLine(CheckReport::toJson(*checked));
    if (checked->errorNumber() != 0 || (!report.ok && (!o.noCheck || report.lineTooLong))) {
        Console::err(CheckReport::describeFault(QStringLiteral("upgrade"), *checked) +
                     (report.lineTooLong || o.noCheck
                          ? QStringLiteral("No meter was touched.\n")
                          : QStringLiteral("No meter was touched (--no-check sends the file as it is).\n")));
        return ExitStatus::Usage;
    }
    CheckReport::warnAboutName(QStringLiteral("upgrade"), o.file);
    const qint64 totalLines = checked->fileLines();
    const FileFacts facts = checked->facts();
    if (!o.sha256.isEmpty() && facts.sha256 != o.sha256) {
        Console::err(QStringLiteral("ovfw upgrade: %1 has the SHA-256 digest %2, not %3; no meter was touched\n")
                         .arg(Escaped::text(o.file), facts.sha256, o.sha256));
        return ExitStatus::Usage;
    }
    const QString model = checked->modelCode();
    if (model.isEmpty() && !o.force) {
        Console::err(QStringLiteral("ovfw upgrade: the file name gives no model (expected OV<model>_FW<version>.OVH); "
                                    "--force upgrades whatever model answers\n"));
        return ExitStatus::Usage;
    }
    if (!confirmed(o))
        return ExitStatus::Usage;

    MeterBoard board(o.meters, o.json);
    // Every meter's part of a second signal's note, made before any meter starts.
    StopSignal::reserveNoteSlots(board.size());
    for (int i = 0; i < board.size(); ++i) {
        const int slot = StopSignal::publishNote(MeterOutput::signalNote(o.file, board.addressOf(i)));
        board.update(i, [&](MeterStatus &s) {
            s.noteSlot = slot;
            s.totalLines = totalLines;
        });
    }
    StopSignal::install();
    MeterJobSettings settings;
    settings.mode = MeterJobSettings::Mode::Upgrade;
    settings.map = o.map;
    settings.logDir = o.logDir;
    settings.plan.filePath = o.file;
    settings.plan.fileModel = model;
    settings.plan.checked = checked;
    settings.plan.targetVersion = facts.targetVersion;
    settings.plan.checkContent = !o.noCheck;
    settings.plan.modelGuard = !o.force;
    settings.plan.boot = o.boot;
    settings.plan.retries = o.retries;
    settings.plan.verify = o.verify;
    {
        // No sleep, and no USB powered down, while meters take their firmware.
        const SleepInhibited noSleep(QStringLiteral("ovfw"));
        runMeters(board, settings, Console::outIsTerminal(), o.verbosity);
    }

    const QList<MeterStatus> results = board.all();
    const int exit = exitStatus(results);
    if (o.json) {
        QJsonArray leftInBoot, mayBeInBoot;
        int completed = 0, interrupted = 0;
        for (const MeterStatus &s : results) {
            completed += s.result == MeterResult::Completed;
            interrupted += s.result == MeterResult::Interrupted;
            const QJsonValue name = s.address.jsonName();
            if (s.leftInBootLoader == true)
                leftInBoot.append(name);
            else if (!s.leftInBootLoader)
                mayBeInBoot.append(name);
        }
        writeJsonLine({{QStringLiteral("event"), QStringLiteral("summary")},
                       {QStringLiteral("meters"), results.size()},
                       {QStringLiteral("completed"), completed},
                       {QStringLiteral("failed"), results.size() - completed - interrupted},
                       {QStringLiteral("interrupted_meters"), interrupted},
                       {QStringLiteral("left_in_boot_loader"), leftInBoot},
                       {QStringLiteral("may_be_in_boot_loader"), mayBeInBoot},
                       {QStringLiteral("interrupted"), StopSignal::requested()},
                       {QStringLiteral("exit_status"), exit}});
    } else {
        Console::out((o.verbosity == Verbosity::Quiet ? QString() : QStringLiteral("\n")) + MeterOutput::summary(results) +
                     MeterOutput::bootLoaderAdvice(results, o.file));
    }
    // Every row is written locally by now; the records server, when one is
    // named in the environment, gets them within its push's deadline.
    RecordsPushing push({});
    push.finish(exit);
    return exit;
}
