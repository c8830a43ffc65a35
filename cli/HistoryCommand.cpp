// `ovfw history`: the recorded upgrade attempts, newest first.
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/HistoryTable.h"
#include "cli/MeterBoard.h"
#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include <QDateTime>

namespace {
constexpr int kOutputChunkChars = 64 * 1024;  // rows are written in pieces of about this size

// A date (from its local midnight) or an ISO date-time in local time, as the
// store keeps times: UTC. Empty when it is neither.
QString sinceUtc(const QString &text)
{
    QDateTime since;
    constexpr int kDateChars = 10;  // YYYY-MM-DD; QDate would also take a date-time's date
    const QDate date = text.size() == kDateChars ? QDate::fromString(text, Qt::ISODate) : QDate();
    if (date.isValid())
        since = date.startOfDay();
    else
        since = QDateTime::fromString(text, Qt::ISODateWithMs);
    return since.isValid() ? since.toUTC().toString(Qt::ISODateWithMs) : QString();
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
        "Exit status 0; 1 when the history exists but cannot be read; 2 on a usage error."));
    const QCommandLineOption serial(QStringLiteral("serial"), QStringLiteral("Only the meter with serial number S."),
                                    QStringLiteral("S"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("Only port N (1 to 16)."), QStringLiteral("N"));
    const QCommandLineOption since(QStringLiteral("since"),
                                   QStringLiteral("Only attempts started at or after DATE (YYYY-MM-DD or an ISO "
                                                  "date-time, local time)."),
                                   QStringLiteral("DATE"));
    const QCommandLineOption failed(QStringLiteral("failed"),
                                    QStringLiteral("Only failed, interrupted or not verified attempts."));
    const QCommandLineOption limit(QStringLiteral("limit"), QStringLiteral("At most N rows (default 50)."),
                                   QStringLiteral("N"), QString::number(HistoryFilter::kDefaultLimit));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("One JSON object per line per attempt."));
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("Comma-separated values with a header."));
    parser.addOptions({serial, port, since, failed, limit, json, csv});
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
        Console::err(QStringLiteral("ovfw history: --limit expects a positive number\n"));
        return ExitStatus::Usage;
    }
    filter.failed = parser.isSet(failed);
    if (parser.isSet(json) && parser.isSet(csv)) {
        Console::err(QStringLiteral("ovfw history: choose --json or --csv\n"));
        return ExitStatus::Usage;
    }

    HistoryStore store(HistoryStore::Access::Read);
    bool read = true;
    if (parser.isSet(json) || parser.isSet(csv)) {
        // Streamed: the first rows are out while the rest are read.
        QString chunk = parser.isSet(csv) ? HistoryTable::csvHeader() : QString();
        read = HistoryQuery::forEach(store, filter, [&](const AttemptRecord &r) {
            chunk += parser.isSet(csv) ? HistoryTable::csvRow(r) : jsonLine(HistoryTable::json(r));
            if (chunk.size() >= kOutputChunkChars) {
                Console::out(chunk);
                chunk.clear();
            }
        });
        Console::out(chunk);
    } else {
        QList<AttemptRecord> rows;
        read = HistoryQuery::forEach(store, filter, [&rows](const AttemptRecord &r) { rows << r; });
        if (read)
            Console::out(HistoryTable::table(rows));
    }
    if (!read) {
        Console::err(QStringLiteral("ovfw history: %1\n").arg(store.problem()));
        return ExitStatus::Unreadable;
    }
    return ExitStatus::Ok;
}
