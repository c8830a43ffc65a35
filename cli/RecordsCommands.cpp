// `ovfw history push` and `ovfw history init-server`: the local history
// copied to a records server, and that server's table made.
#include "base/Escaped.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/RecordsServerChoice.h"
#include "history/HistoryStore.h"
#include "records/HistoryPush.h"
#include "records/RecordsServerSchema.h"
#include "records/RecordsSession.h"
#include "station/StationProfile.h"
#include <QCommandLineParser>
#include <QFileInfo>
#include <QSysInfo>

namespace {
// init-server may have a long table to change.
constexpr double kInitDeadlineSeconds = 60;

const QCommandLineOption &serverOption()
{
    static const QCommandLineOption option(
        QStringLiteral("server"),
        QStringLiteral("The records server: a libpq connection URL (postgresql://USER@HOST/DB?...), "
                       "without a password (libpq takes it from ~/.pgpass or PGPASSFILE)."),
        QStringLiteral("URL"));
    return option;
}

// The server's name from --profile: read with its files checked, as the station reads it.
bool profileServer(const QString &path, QString &server)
{
    const ProfileReading reading = StationProfiles::read(path, QSysInfo::machineHostName());
    if (!reading.ok()) {
        for (const ProfileProblem &p : reading.problems)
            Console::err(QStringLiteral("ovfw history push: %1: %2\n").arg(Escaped::text(path), p.text));
        return false;
    }
    server = reading.profile.recordsServer;
    return true;
}
}

int runHistoryPush(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends to the records server (PostgreSQL) every local attempt it has not taken in\n"
        "its latest form: rows new or finished since the last push. Each batch is one\n"
        "transaction, and the local history marks a batch as pushed only after the\n"
        "server has committed it, so a push cut off anywhere loses nothing and doubles\n"
        "nothing when run again. The connection and each batch have a deadline of %1 s;\n"
        "batches follow one another until nothing is left.\n"
        "The server is --server, else the [records] server of --profile, else\n"
        "OVFW_HISTORY_SERVER.\n"
        "Exit status 0 everything pushed; 1 rows are left (server unreachable, no table,\n"
        "history unwritable); 2 usage error.")
                                         .arg(PushSettings::kDeadlineSeconds));
    const QCommandLineOption profile(QStringLiteral("profile"),
                                     QStringLiteral("Take the server from a station's profile."),
                                     QStringLiteral("FILE"));
    parser.addOptions({serverOption(), profile});
    const int status = CommandLine::parse(parser, args, false);
    if (status >= 0)
        return status;
    QString fromProfile;
    if (parser.isSet(profile) && !profileServer(parser.value(profile), fromProfile))
        return ExitStatus::Usage;
    QString why;
    const std::optional<RecordsServerAddress> server =
        RecordsServerChoice::chosen(parser.value(serverOption()), fromProfile, why);
    if (!server) {
        Console::err(QStringLiteral("ovfw history push: %1\n")
                         .arg(why.isEmpty() ? QStringLiteral("no records server: give --server URL, a profile "
                                                             "with [records] server, or OVFW_HISTORY_SERVER")
                                            : why));
        return ExitStatus::Usage;
    }
    const QString path = HistoryStore::defaultPath();
    if (!QFileInfo::exists(path)) {
        Console::out(QStringLiteral("nothing to push: no history at %1\n").arg(Escaped::text(path)));
        return ExitStatus::Ok;
    }
    PushSettings settings = PushSettings::fromEnvironment();
    settings.deadlineEachBatch = true;
    HistoryStore local(HistoryStore::Access::Write, path);
    const PushOutcome outcome = pushHistory(local, *server, settings);
    if (!outcome.done()) {
        Console::err(QStringLiteral("ovfw history push: %1\n").arg(outcome.describe(*server)));
        return ExitStatus::PushFailed;
    }
    Console::out(outcome.describe(*server) + QLatin1Char('\n'));
    return ExitStatus::Ok;
}

int runHistoryInitServer(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes the records table on a PostgreSQL server, or brings it up to this ovfw's\n"
        "schema (%1). It is safe to run again, and from two places at once: it works in\n"
        "one transaction, under an advisory lock, and adds only what is missing. The\n"
        "role needs the right to create a table in the database; the stations' roles\n"
        "then need only SELECT, INSERT and UPDATE on %2.\n"
        "Exit status 0 made or already current; 1 the server refused or cannot be\n"
        "reached; 2 usage error.")
                                         .arg(RecordsServerSchema::kVersion)
                                         .arg(RecordsServerSchema::kTable));
    parser.addPositionalArgument(QStringLiteral("URL"), QStringLiteral("The server (a libpq connection URL)."));
    const int status = CommandLine::parse(parser, args, true);
    if (status >= 0)
        return status;
    QString why;
    const std::optional<RecordsServerAddress> server =
        RecordsServerAddress::parse(parser.positionalArguments().first(), why);
    if (!server) {
        Console::err(QStringLiteral("ovfw history init-server: %1\n").arg(why));
        return ExitStatus::Usage;
    }
    RecordsSession session(*server, kInitDeadlineSeconds);
    if (!session.isOpen()) {
        Console::err(QStringLiteral("ovfw history init-server: cannot reach %1 (%2)\n").arg(server->given, session.problem()));
        return ExitStatus::PushFailed;
    }
    const RecordsServerSchema::InitResult result = RecordsServerSchema::initialize(session);
    if (!result.ok) {
        Console::err(QStringLiteral("ovfw history init-server: %1: %2\n").arg(server->given, result.problem));
        return ExitStatus::PushFailed;
    }
    if (result.before == result.after)
        Console::out(QStringLiteral("%1: the records table %2 is at schema %3 already\n")
                         .arg(server->given, RecordsServerSchema::kTable)
                         .arg(result.after));
    else
        Console::out(QStringLiteral("%1: the records table %2 is now at schema %3 (was %4)\n")
                         .arg(server->given, RecordsServerSchema::kTable)
                         .arg(result.after)
                         .arg(result.before));
    return ExitStatus::Ok;
}
