#pragma once
#include "history/AttemptRecord.h"
#include <QList>
#include <QStringList>
#include <QVariant>

class QSqlQuery;

// The history's table, how each schema version is reached from the one before
// (the first from an empty file), and the mapping of a record to its columns.
namespace HistorySchema {
struct ColumnValue {
    QString column;
    QVariant value;
};
// A record's columns and their values as stored: those written when the
// attempt starts, when it ends, and when the meter is asked again after.
QList<ColumnValue> startValues(const AttemptRecord &r);
QList<ColumnValue> endValues(const AttemptRecord &r);
QList<ColumnValue> verifiedValues(const AttemptRecord &r);

// The statements that take a database of version `version - 1` to `version`.
QStringList migrationTo(int version);
QString insertStatement();
QString completeStatement();
void bindAll(QSqlQuery &q, const AttemptRecord &r);
void bindEnd(QSqlQuery &q, const AttemptRecord &r);
// The columns a query selects, in the order `fromQuery` reads them.
QString selectColumns();
// The condition of a failed or unfinished row, as --failed asks it and as its
// index is made (the two must read the same for the index to serve): not
// completed, or completed but not verified when asked to be.
// `falseValue` is how the database writes "not verified": SQLite's 0, or
// a boolean's false on the records server.
QString failedCondition(const QString &falseValue = QStringLiteral("0"));
AttemptRecord fromQuery(const QSqlQuery &q);
// The condition of a row whose latest revision no records server has taken.
QString unpushedCondition();
}
