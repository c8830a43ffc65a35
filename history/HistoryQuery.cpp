#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"
#include "history/ProcessIdentity.h"
#include "history/RecordsServerSchema.h"
#include "history/RecordsSession.h"
#include "link/DeviceIdentity.h"
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <algorithm>
#include <QSqlQuery>
#include <QVariant>

namespace {
// A filter as SQL: its conditions, and the values they are bound to.
struct FilterSql {
    QStringList where;
    QList<QPair<QString, QVariant>> values;

    QString clause() const
    {
        return where.isEmpty() ? QString() : QStringLiteral("WHERE ") + where.join(QStringLiteral(" AND "));
    }
    void bindTo(QSqlQuery &q) const
    {
        for (const auto &v : values)
            q.bindValue(v.first, v.second);
    }
    // The clause with its values written in as the driver escapes them: a
    // statement run as it is, with no prepared statement left behind on a
    // connection that breaks.
    QString literalClause(const QSqlDriver &driver) const
    {
        QString text = clause();
        QList<QPair<QString, QVariant>> longestFirst = values;
        std::sort(longestFirst.begin(), longestFirst.end(),
                  [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
        for (const auto &v : longestFirst) {
            QSqlField field(v.first, v.second.metaType());
            field.setValue(v.second);
            text.replace(v.first, driver.formatValue(field));
        }
        return text;
    }
};

FilterSql filterSql(const HistoryFilter &filter, const QString &failedCondition)
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

// Hands over the rows of an executed query, up to the filter's limit; rows
// never completed get "running" or "interrupted".
void handOver(QSqlQuery &q, const HistoryFilter &filter, const std::function<void(const AttemptRecord &)> &row)
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

bool HistoryQuery::forEachOnServer(RecordsSession &server, const HistoryFilter &filter,
                                   const std::function<void(const AttemptRecord &)> &row, QString &problem)
{
    if (!server.isOpen()) {
        problem = server.problem();
        return false;
    }
    const FilterSql f = filterSql(filter, RecordsServerSchema::failedCondition());
    QSqlDatabase db = server.database();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // --failed drops running rows after reading; otherwise the server stops at the limit.
    const QString limit = filter.failed ? QString() : QStringLiteral(" LIMIT %1").arg(filter.limit);
    const QString statement = QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY started_utc DESC, local_id DESC, uuid%4")
                                  .arg(RecordsServerSchema::selectColumns(), RecordsServerSchema::kTable,
                                       f.literalClause(*db.driver()), limit);
    if (!q.exec(statement) || (handOver(q, filter, row), q.lastError().isValid())) {
        problem = q.lastError().nativeErrorCode() == RecordsServerSchema::kUndefinedTable
                      ? QStringLiteral("it has no records table yet (ovfw history init-server makes it)")
                      : server.failedBecause(q.lastError().text());
        return false;
    }
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
