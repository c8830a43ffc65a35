#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"
#include "history/ProcessIdentity.h"
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {
const QStringList kFailures = {HistoryOutcome::UnexpectedEnd, HistoryOutcome::EndUnconfirmed, HistoryOutcome::NotSwitched, HistoryOutcome::Failed,
                               HistoryOutcome::Stopped, HistoryOutcome::Interrupted};
}

bool HistoryQuery::isFailure(const QString &outcome)
{
    return kFailures.contains(outcome);
}

QList<AttemptRecord> HistoryQuery::find(HistoryStore &store, const HistoryFilter &filter)
{
    QList<AttemptRecord> rows;
    if (!store.isOpen() || filter.limit <= 0)
        return rows;
    QStringList where;
    if (!filter.serial.isEmpty())
        where << QStringLiteral("serial = :serial");
    if (filter.port > 0)
        where << QStringLiteral("port = :port");
    if (!filter.sinceUtc.isEmpty())
        where << QStringLiteral("started_utc >= :since");
    if (filter.failed)
        where << HistorySchema::failedCondition();
    // Rows still running are dropped from --failed after reading, so the
    // limit is counted here rather than in SQL.
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM attempts %2 ORDER BY id DESC")
                  .arg(HistorySchema::selectColumns(),
                       where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where.join(QStringLiteral(" AND "))));
    if (!filter.serial.isEmpty())
        q.bindValue(QStringLiteral(":serial"), filter.serial);
    if (filter.port > 0)
        q.bindValue(QStringLiteral(":port"), filter.port);
    if (!filter.sinceUtc.isEmpty())
        q.bindValue(QStringLiteral(":since"), filter.sinceUtc);
    if (!q.exec()) {
        HistoryStore::note(QStringLiteral("cannot read %1 (%2)").arg(store.path(), q.lastError().text()));
        return rows;
    }
    while (rows.size() < filter.limit && q.next()) {
        AttemptRecord r = HistorySchema::fromQuery(q);
        if (r.outcome.isEmpty()) {
            r.outcome = ProcessIdentity::stillRuns(r.host, r.bootId, r.pid, r.processStart) ? HistoryOutcome::Running
                                                                                              : HistoryOutcome::Interrupted;
            if (filter.failed && r.outcome == HistoryOutcome::Running)
                continue;
        }
        rows << r;
    }
    return rows;
}

QString HistoryQuery::lastModelOn(HistoryStore &store, const QString &device)
{
    if (!store.isOpen() || device.isEmpty())
        return {};
    QSqlQuery q(store.database());
    q.prepare(QStringLiteral("SELECT model FROM attempts WHERE device = :device AND model IS NOT NULL "
                             "ORDER BY id DESC LIMIT 1"));
    q.bindValue(QStringLiteral(":device"), device);
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}
