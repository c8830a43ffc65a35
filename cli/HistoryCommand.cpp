// `ovfw history`: the recorded upgrade attempts, newest first.
#include "base/Escaped.h"
#include "cli/CommandLine.h"
#include "link/PortStatus.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/HistoryTable.h"
#include "cli/MeterBoard.h"
#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include "cli/RecordsClient.h"
#include <functional>
#include <memory>
#include <QDateTime>
#include <algorithm>
#include <limits>

namespace {
constexpr qint64 kMsPerDay = 24LL * 60 * 60 * 1000;
constexpr int kMostRows = std::numeric_limits<int>::max();

qint64 localOffsetMsAt(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime).offsetFromUtc() * 1000LL;
}

// A local wall-clock reading (held as the milliseconds it would be in UTC) as
// the instant it names, whatever Qt does with times a clock change skips or
// repeats: in a repeated hour the earlier instant; in a skipped one (`skipped`
// set) the first instant after it, when the clocks went forward.
qint64 instantOfLocal(qint64 wallMs, bool &skipped)
{
    const auto wallAt = [](qint64 utcMs) { return utcMs + localOffsetMsAt(utcMs); };
    const qint64 offsetBefore = localOffsetMsAt(wallMs - kMsPerDay), offsetAfter = localOffsetMsAt(wallMs + kMsPerDay);
    const qint64 early = wallMs - std::max(offsetBefore, offsetAfter);
    const qint64 late = wallMs - std::min(offsetBefore, offsetAfter);
    skipped = false;
    if (wallAt(early) == wallMs)
        return early;
    if (wallAt(late) == wallMs)
        return late;
    // Skipped: the clock reads less than wallMs at `early`, more at `late`.
    skipped = true;
    qint64 before = early, after = late;
    while (after - before > 1) {
        const qint64 middle = before + (after - before) / 2;
        (wallAt(middle) < wallMs ? before : after) = middle;
    }
    return after;
}

// A date (from its local midnight), or an ISO date-time in local time unless
// it gives its offset, as the store keeps times: UTC. Empty when it is
// neither. A local time the clocks skipped is noted on standard error.
constexpr int kOutputChunkChars = 64 * 1024;  // rows are written in pieces of about this size

QString sinceUtc(const QString &text)
{
    constexpr int kDateChars = 10;  // YYYY-MM-DD; QDate would also take a date-time's date
    const QDate date = text.size() == kDateChars ? QDate::fromString(text, Qt::ISODate) : QDate();
    QDateTime wall;  // the clock's reading, as if in UTC
    if (date.isValid()) {
        wall = QDateTime(date, QTime(0, 0), Qt::UTC);
    } else {
        const QDateTime given = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (given.isValid() && given.timeSpec() != Qt::LocalTime)
            return given.toUTC().toString(Qt::ISODateWithMs);  // it names its offset
        wall = QDateTime::fromString(text + QLatin1Char('Z'), Qt::ISODateWithMs);
    }
    if (!wall.isValid())
        return {};
    bool skipped = false;
    const QDateTime since = QDateTime::fromMSecsSinceEpoch(instantOfLocal(wall.toMSecsSinceEpoch(), skipped), Qt::UTC);
    if (skipped)
        Console::err(QStringLiteral("ovfw history: %1 is a local time the clocks skipped; taken as %2, the first "
                                    "time after it\n")
                         .arg(Escaped::text(text), HistoryTable::localIso(since.toString(Qt::ISODateWithMs))));
    return since.toString(Qt::ISODateWithMs);
}
}

int runHistory(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Lists the upgrade attempts recorded by ovfw and the window, newest first, in\n"
        "local time. The history is the SQLite database OVFW_HISTORY names, else\n"
        "${XDG_STATE_HOME:-~/.local/state}/ovfw-upgrade/history.sqlite. An attempt never\n"
        "completed reads \"running\" while the process that made it lives, and\n"
        "\"interrupted\" after (the meter may then be in its boot loader).\n"
        "With --server, the records server's table is read instead: every bench's\n"
        "attempts that were pushed to it, with the same filters.\n"
        "`ovfw history push` sends the local attempts to the records server;\n"
        "`ovfw history init-server URL` makes its table (see their --help).\n"
        "Exit status 0; 1 when the history exists but cannot be read; 2 on a usage error."));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Only the meter with serial number S."),
                                    QStringLiteral("S"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Only port N (1 to 16)."), QStringLiteral("N"));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Only the meter on device PATH (as it was named, or the device "
                                                   "that name reaches)."),
                                    QStringLiteral("PATH"));
    const QCommandLineOption station(QStringLiteral("station"), QStringLiteral("Only meters of station NAME."),
                                     QStringLiteral("NAME"));
    const QCommandLineOption socket(QStringLiteral("socket"), QStringLiteral("Only meters of a station's socket NAME."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Only attempts started at or after DATE (YYYY-MM-DD or an ISO "
                                                  "date-time, local time unless it gives its offset; a time the "
                                                  "clocks skipped is taken as the first after it, a repeated one "
                                                  "as the earlier)."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption failed(QStringLiteral("failed"),
                                    QStringLiteral("Only failed, interrupted or not verified attempts."));
    const QCommandLineOption limit(
        QStringLiteral("limit"),
        QStringLiteral("At most N rows, up to %1 (default %2).").arg(kMostRows).arg(HistoryFilter::kDefaultLimit),
        QStringLiteral("N"), QString::number(HistoryFilter::kDefaultLimit));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per attempt."));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("Comma-separated values with a header."));
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Read the records server's table (a libpq connection URL, "
                                                   "without a password) instead of the local history."),
                                    QStringLiteral("URL"));
    parser.addOptions({serial, port, device, station, socket, since, failed, limit, json, csv, server});
    const int status = CommandLine::parse(parser, args, false);
    if (status >= 0)
        return status;

    HistoryFilter filter;
    filter.serial = parser.value(serial);
    if (parser.isSet(port)) {
        QList<int> ports;
        if (!CommandLine::portNumbers(parser.values(port), ports))
            return ExitStatus::Usage;
        filter.port = ports.value(0);
    }
    filter.station = parser.value(station);
    filter.socket = parser.value(socket);
    if (parser.isSet(device)) {
        filter.device = parser.value(device);
        const QString real = resolvedDevicePath(filter.device);
        filter.realDevice = real.isEmpty() ? filter.device : real;
    }
    if (parser.isSet(since)) {
        filter.sinceUtc = sinceUtc(parser.value(since));
        if (filter.sinceUtc.isEmpty()) {
            Console::err(QStringLiteral("ovfw history: --since expects a date (YYYY-MM-DD) or an ISO date-time\n"));
            return ExitStatus::Usage;
        }
    }
    bool ok = false;
    filter.limit = parser.value(limit).toInt(&ok);
    if (!ok || filter.limit < 1) {
        Console::err(QStringLiteral("ovfw history: --limit expects a number from 1 to %1\n").arg(kMostRows));
        return ExitStatus::Usage;
    }
    filter.failed = parser.isSet(failed);
    if (parser.isSet(json) && parser.isSet(csv)) {
        Console::err(QStringLiteral("ovfw history: choose --json or --csv\n"));
        return ExitStatus::Usage;
    }

    const QString serverUrl = parser.value(server);
    if (parser.isSet(server)) {
        if (serverUrl.isEmpty()) {
            Console::err(QStringLiteral("ovfw history: --server expects a URL\n"));
            return ExitStatus::Usage;
        }
        const QString why = RecordsClient::serverProblem(serverUrl, {});
        if (!why.isEmpty()) {
            Console::err(QStringLiteral("ovfw history: %1\n").arg(why));
            return ExitStatus::Usage;
        }
    }
    std::unique_ptr<HistoryStore> store;
    QString problem;
    const auto forEach = [&](const std::function<void(const AttemptRecord &)> &row) {
        if (!parser.isSet(server)) {
            store = std::make_unique<HistoryStore>(HistoryStore::Access::Read);
            const bool ok = HistoryQuery::forEach(*store, filter, row);
            problem = store->problem();
            return ok;
        }
        return RecordsClient::forEachOnServer(serverUrl, filter, row, problem);
    };
    bool read = true;
    if (parser.isSet(json) || parser.isSet(csv)) {
        // Streamed: the first rows are out while the rest are read.
        const bool asCsv = parser.isSet(csv);
        HistoryTable::Writer writer;
        QString chunk = asCsv ? HistoryTable::csvHeader() : QString();
        read = forEach([&](const AttemptRecord &r) {
            if (asCsv)
                writer.appendCsvRow(chunk, r);
            else
                chunk += jsonLine(writer.json(r));
            if (chunk.size() >= kOutputChunkChars) {
                Console::out(chunk);
                chunk.clear();
            }
        });
        Console::out(chunk);
    } else {
        QList<AttemptRecord> rows;
        read = forEach([&rows](const AttemptRecord &r) { rows << r; });
        if (read)
            Console::out(HistoryTable::table(rows, parser.isSet(failed)));
    }
    if (!read) {
        Console::err(QStringLiteral("ovfw history: %1\n").arg(problem));
        return ExitStatus::Unreadable;
    }
    return ExitStatus::Ok;
}
