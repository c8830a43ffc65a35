#include "records/ServerHistoryQuery.h"
#include "history/HistoryFilterSql.h"
#include "records/RecordsServerSchema.h"
#include "records/RecordsSession.h"
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace {
// The filter's clause with its values written in as the driver escapes them:
// a statement run as it is, with no prepared statement left behind on a
// connection that breaks.
QString literalClause(const HistoryQuery::FilterSql &f, const QSqlDriver &driver)
{
    QString text = f.clause();
    QList<QPair<QString, QVariant>> longestFirst = f.values;
    std::sort(longestFirst.begin(), longestFirst.end(),
              [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
    for (const auto &v : longestFirst) {
        QSqlField field(v.first, v.second.metaType());
        field.setValue(v.second);
        text.replace(v.first, driver.formatValue(field));
    }
    return text;
}
}

bool ServerHistoryQuery::forEach(RecordsSession &server, const HistoryFilter &filter,
                                 const std::function<void(const AttemptRecord &)> &row, QString &problem)
{
    if (!server.isOpen()) {
        problem = server.problem();
        return false;
    }
    const HistoryQuery::FilterSql f = HistoryQuery::filterSql(filter, RecordsServerSchema::failedCondition());
    QSqlDatabase db = server.database();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // --failed drops running rows after reading; otherwise the server stops at the limit.
    const QString limit = filter.failed ? QString() : QStringLiteral(" LIMIT %1").arg(filter.limit);
    const QString statement = QStringLiteral("SELECT %1 FROM %2 %3 ORDER BY started_utc DESC, local_id DESC, uuid%4")
                                  .arg(RecordsServerSchema::selectColumns(), RecordsServerSchema::kTable,
                                       literalClause(f, *db.driver()), limit);
    if (!q.exec(statement) || (HistoryQuery::handOver(q, filter, row), q.lastError().isValid())) {
        problem = q.lastError().nativeErrorCode() == RecordsServerSchema::kUndefinedTable
                      ? QStringLiteral("it has no records table yet (ovfw history init-server makes it)")
                      : server.failedBecause(q.lastError().text());
        return false;
    }
    return true;
}
