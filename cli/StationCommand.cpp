// `ovfw station PROFILE`: meters upgraded as they are plugged in, each socket
// known by its name, until the station is stopped.
#include "base/Escaped.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/RecordsClient.h"
#include "cli/Station.h"
#include "cli/StopSignal.h"
#include "power/SleepInhibitor.h"
#include "station/StationProfile.h"
#include <QDir>
#include <QSysInfo>

namespace {
constexpr int kMostFinishNotes = 4096;  // a socket's note for each file it was sent

QString where(const ProfileProblem &p)
{
    return p.line > 0 ? QStringLiteral("%1:%2:").arg(p.line).arg(p.column) : QString();
}

bool confirmed(bool yes, const StationProfile &profile)
{
    if (yes)
        return true;
    if (!Console::inIsTerminal()) {
        Console::err(QStringLiteral("ovfw station: standard input is not a terminal; add --yes to run the station "
                                    "without confirmation\n"));
        return false;
    }
    Console::err(QStringLiteral("Run station %1? Every meter plugged into its sockets that the profile names\n"
                                "and that is not current will be upgraded. [y/N] ")
                     .arg(Escaped::text(profile.name)));
    const QString answer = Console::readLine().toLower();
    return answer == QLatin1String("y") || answer == QLatin1String("yes");
}
}

int runStation(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs a station: meters are upgraded as they are plugged into its sockets, until\n"
        "the station is stopped (SIGINT, SIGTERM or SIGHUP: no new meter is started, and\n"
        "meters in flight finish their line and stop).\n"
        "The PROFILE (TOML) names the station, its sockets (a watched folder of device\n"
        "links, or fixed devices) and, per model, the upgrade file, its SHA-256 and the\n"
        "version. It is read and every file checked before any meter is touched; any\n"
        "problem is a usage error. A meter is identified when it appears: a model the\n"
        "profile lacks is not touched, one that reports the profile's version is current,\n"
        "any other is upgraded and verified.\n"
        "The profile's keys: [station] name, watch (a folder of links) and settle\n"
        "(seconds), or a [sockets] table of NAME = \"DEVICE\"; per model\n"
        "[models.3A] file, sha256, version and retries; [records] server. The package's\n"
        "/usr/share/doc/ovfw-upgrade/station-profile.toml holds every key, explained.\n"
        "Asks once for confirmation (y/N) on a terminal; elsewhere --yes is required.\n"
        "Exit status: 0 nothing failed, 1 a meter failed, 2 usage error or a bad profile,\n"
        "130 a stop cut an upgrade short."));
    parser.addPositionalArgument(QStringLiteral("PROFILE"), QStringLiteral("The station's profile (TOML)."));
    const QCommandLineOption yes({QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("Do not ask for confirmation."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per event."));
    const QCommandLineOption operatorName(QStringLiteral("operator"),
                                          QStringLiteral("Who runs the station, for the records (default: the user)."),
                                          QStringLiteral("NAME"));
    const QCommandLineOption logDir(QStringLiteral("log"),
                                    QStringLiteral("A transcript of each meter's wire in DIR, named by socket, serial\n"
                                                   "and start time."),
                                    QStringLiteral("DIR"));
    parser.addOptions({yes, json, operatorName, logDir});
    const int status = CommandLine::parse(parser, args, true);
    if (status >= 0)
        return status;
    const QString path = parser.positionalArguments().first();
    const ProfileReading reading = StationProfiles::read(path, QSysInfo::machineHostName());
    if (!reading.ok()) {
        for (const ProfileProblem &p : reading.problems)
            Console::err(QStringLiteral("ovfw station: %1:%2 %3\n").arg(Escaped::text(path), where(p), p.text));
        Console::err(QStringLiteral("No meter was touched.\n"));
        return ExitStatus::Usage;
    }
    const QString serverProblem = RecordsClient::serverProblem({}, reading.profile.recordsServer);
    if (!serverProblem.isEmpty()) {
        Console::err(QStringLiteral("ovfw station: %1: %2\nNo meter was touched.\n").arg(Escaped::text(path), serverProblem));
        return ExitStatus::Usage;
    }
    if (!confirmed(parser.isSet(yes), reading.profile))
        return ExitStatus::Usage;
    StopSignal::reserveNoteSlots(kMostFinishNotes);
    StopSignal::install();
    const SleepInhibited noSleep(QStringLiteral("ovfw station"));
    const QString logs = parser.value(logDir);
    if (!logs.isEmpty() && !QDir().mkpath(logs)) {
        Console::err(QStringLiteral("ovfw station: cannot make the log folder %1\nNo meter was touched.\n").arg(Escaped::text(logs)));
        return ExitStatus::Usage;
    }
    Station station(reading.profile, parser.isSet(json), parser.value(operatorName), logs);
    return station.run();
}
