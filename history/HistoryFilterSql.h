#pragma once
#include "history/HistoryQuery.h"
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>

class QSqlQuery;

// A history filter as SQL, and the rows of a query handed over as the
// filter asks: shared by every table that holds attempts in the history's
// columns (the local history's, and the records server's in records/).
namespace HistoryQuery {
struct FilterSql {
    QStringList where;                       // conditions, joined by AND
    QList<QPair<QString, QVariant>> values;  // placeholder (":serial") and its value

    // "WHERE ..." or empty.
    QString clause() const;
    void bindTo(QSqlQuery &q) const;
};

// `failedCondition` is the table's own condition for --failed.
FilterSql filterSql(const HistoryFilter &filter, const QString &failedCondition);

// Hands over the rows of an executed query, up to the filter's limit; rows
// never completed get "running" or "interrupted".
void handOver(QSqlQuery &q, const HistoryFilter &filter, const std::function<void(const AttemptRecord &)> &row);
}
