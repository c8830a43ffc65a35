#pragma once
#include "history/AttemptRecord.h"
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QSqlQuery;
class RecordsSession;

// The records server's table: how it is made and brought up to date, how
// local rows go into it, and how its rows are read back as records. The
// table's statements are the ones the administrator's copy in the docs folder
// holds, built into the program from that file.
namespace RecordsServerSchema {
constexpr int kVersion = 1;
inline const QString kTable = QStringLiteral("ovfw_attempts");
// PostgreSQL's SQLSTATE of a statement on a table that does not exist.
inline const QString kUndefinedTable = QStringLiteral("42P01");

// The statements that take the table from `version - 1` to `version`.
QStringList migrationTo(int version);

struct InitResult {
    bool ok = false;
    int before = 0;  // the version found (0: no table)
    int after = 0;
    QString problem;
};
// Makes or updates the table, in one transaction under an advisory lock, so
// that two stations that start together do the work once. A newer table is
// left as it is.
InitResult initialize(RecordsSession &session);

// How the table differs from `version`'s columns, in words, or empty when
// it has them all with their types; asked through `q`'s connection.
QString differencesFromSchema(QSqlQuery &q, int version);

// One statement that inserts the rows of a JSON array, or updates a stored
// row whose revision is older than the incoming one; its %1 is where the
// array goes, as an SQL literal.
QString upsertStatement();
// `rows` as that statement takes them: one JSON object each, keyed by the
// server's column names.
QByteArray rowsJson(const QList<AttemptRecord> &rows);

// The columns that read a server row back as HistorySchema::fromQuery reads
// a local one, and the server's names for a filter's columns.
QString selectColumns();
QString serverColumn(const QString &localColumn);
// The condition of a failed or unfinished row, in the server's types.
QString failedCondition();
}
