#include "history/HistoryQuery.h"
#include "history/HistoryFilterSql.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"
#include "history/ProcessIdentity.h"
#include "link/DeviceIdentity.h"
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

QString HistoryQuery::FilterSql::clause() const
{
    return where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where.join(QStringLiteral(" AND "));
}

void HistoryQuery::FilterSql::bindTo(QSqlQuery &q) const
{
    for (const auto &v : values)
        q.bindValue(v.first, v.second);
}

HistoryQuery::FilterSql HistoryQuery::filterSql(const HistoryFilter &filter, const QString &failedCondition)
{
    FilterSql f;
    const auto equal = [&f](const QString &column, const QVariant &value) {
        f.where << QStringLiteral("%1 = :%1").arg(column);
        f.values.append({QLatin1Char(':') + column, value});
    };
    if (!filter.serial.isEmpty())
        equal(QStringLiteral("serial"), filter.serial);
    if (filter.port > 0)
        equal(QStringLiteral("port"), filter.port);
    if (!filter.device.isEmpty()) {
        f.where << QStringLiteral("(device = :device OR real_device = :real_device)");
        f.values.append({QStringLiteral(":device"), filter.device});
        f.values.append(
            {QStringLiteral(":real_device"), filter.realDevice.isEmpty() ? filter.device : filter.realDevice});
    }
    if (!filter.station.isEmpty())
        equal(QStringLiteral("station"), filter.station);
    if (!filter.socket.isEmpty())
        equal(QStringLiteral("socket"), filter.socket);
    if (!filter.sinceUtc.isEmpty()) {
        f.where << QStringLiteral("started_utc >= :since");
        f.values.append({QStringLiteral(":since"), filter.sinceUtc});
    }
    if (filter.failed)
        f.where << failedCondition;
    return f;
}

void HistoryQuery::handOver(QSqlQuery &q, const HistoryFilter &filter,
                            const std::function<void(const AttemptRecord &)> &row)
{
    // Rows still running are dropped from --failed after reading, so the
    // limit is counted here rather than in SQL.
    int count = 0;
    while (count < filter.limit && q.next()) {
        AttemptRecord r = HistorySchema::fromQuery(q);
        if (r.outcome.isEmpty()) {
            r.outcome = ProcessIdentity::stillRuns(r.host, r.bootId, r.pid, r.processStart) ? HistoryOutcome::Running
                                                                                              : HistoryOutcome::Interrupted;
            if (filter.failed && r.outcome == HistoryOutcome::Running)
                continue;
        }
        row(r);
        ++count;
    }
}

bool HistoryQuery::forEach(HistoryStore &store, const HistoryFilter &filter,
                           const std::function<void(const AttemptRecord &)> &row)
{
    if (!store.problem().isEmpty())
        return false;
    if (!store.isOpen() || filter.limit <= 0)
        return true;
    const FilterSql f = filterSql(filter, HistorySchema::failedCondition());
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM attempts %2 ORDER BY started_utc DESC, id DESC").arg(HistorySchema::selectColumns(), f.clause()));
    f.bindTo(q);
    if (!q.exec())
        return store.readFailed(q.lastError().text());
    handOver(q, filter, row);
    // A page SQLite finds damaged halfway through ends the rows early.
    if (q.lastError().isValid())
        return store.readFailed(q.lastError().text());
    return true;
}

QList<AttemptRecord> HistoryQuery::find(HistoryStore &store, const HistoryFilter &filter)
{
    QList<AttemptRecord> rows;
    forEach(store, filter, [&rows](const AttemptRecord &r) { rows << r; });
    return rows;
}

QString HistoryQuery::lastModelOn(HistoryStore &store, const DeviceIdentity &device)
{
    if (!store.isOpen())
        return {};
    QSqlQuery q(store.database());
    if (!device.usbSerial.isEmpty()) {
        q.prepare(QStringLiteral("SELECT model FROM attempts WHERE usb_serial = :key AND model IS NOT NULL "
                                 "ORDER BY id DESC LIMIT 1"));
        q.bindValue(QStringLiteral(":key"), device.usbSerial);
    } else if (!device.realDevice.isEmpty()) {
        // Rows older than the real device column name their device as it was
        // given: they count where that was the real device itself.
        q.prepare(QStringLiteral("SELECT model FROM attempts WHERE (real_device = :key OR (real_device IS NULL AND "
                                 "device = :given)) AND model IS NOT NULL ORDER BY id DESC LIMIT 1"));
        q.bindValue(QStringLiteral(":key"), device.realDevice);
        q.bindValue(QStringLiteral(":given"), device.realDevice);
    } else {
        return {};
    }
    return q.exec() && q.next() ? q.value(0).toString() : QString();
}

std::optional<AttemptRecord> HistoryQuery::lastAtSocket(HistoryStore &store, const QString &station,
                                                        const QString &socket, const QString &usbSerial)
{
    if (!store.isOpen() || socket.isEmpty())
        return std::nullopt;
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM attempts WHERE (station = :station AND socket = :socket) OR "
                             "(:usb <> '' AND usb_serial = :usb) ORDER BY id DESC LIMIT 1")
                  .arg(HistorySchema::selectColumns()));
    q.bindValue(QStringLiteral(":station"), station);
    q.bindValue(QStringLiteral(":socket"), socket);
    q.bindValue(QStringLiteral(":usb"), usbSerial);
    if (!q.exec() || !q.next())
        return std::nullopt;
    return HistorySchema::fromQuery(q);
}
