#include "records/RecordsServerSchema.h"
#include "history/HistorySchema.h"
#include "records/RecordsSession.h"
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {
// Taken by init-server while it works: any 64-bit number no other program
// on the database uses ("ovfwrecs" in ASCII).
constexpr qint64 kInitLockKey = 0x6f76667772656373;
const QString kCommentPrefix = QStringLiteral("ovfw upgrade records, schema ");

// Local names that are words PostgreSQL keeps for itself.
const QMap<QString, QString> kRenamed = {{QStringLiteral("user"), QStringLiteral("user_name")},
                                         {QStringLiteral("operator"), QStringLiteral("operator_name")}};
const QStringList kTimes = {QStringLiteral("started_utc"), QStringLiteral("ended_utc")};

// Schema 1's statements; a later version adds a file of its own.
const QString kSchemaOneFile = QStringLiteral(":/records/records-server.sql");

// The statements of an SQL file: comments dropped, split at each ';' that
// ends a line.
QStringList statementsOf(const QString &sql)
{
    QStringList statements;
    QString current;
    for (const QString &line : sql.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        if (text.isEmpty() || text.startsWith(QStringLiteral("--")))
            continue;
        current += text + QLatin1Char(' ');
        if (text.endsWith(QLatin1Char(';'))) {
            current.chop(2);
            statements << current;
            current.clear();
        }
    }
    return statements;
}

QStringList serverColumns()
{
    QStringList columns = {QStringLiteral("uuid"), QStringLiteral("revision"), QStringLiteral("local_id")};
    const AttemptRecord none;
    for (const auto &values :
         {HistorySchema::startValues(none), HistorySchema::endValues(none), HistorySchema::verifiedValues(none)})
        for (const HistorySchema::ColumnValue &c : values)
            columns << RecordsServerSchema::serverColumn(c.column);
    return columns;
}

// The columns schema `upTo` gives the table, each with its type as the
// statements write it: read from the table's statement and the columns later
// versions add.
QList<QPair<QString, QString>> columnsOfSchema(int upTo)
{
    static const QRegularExpression kAdded(QStringLiteral("ADD COLUMN (?:IF NOT EXISTS )?(\\w+) (\\w+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QStringList kConstraints = {QStringLiteral("PRIMARY"), QStringLiteral("UNIQUE"),
                                             QStringLiteral("CONSTRAINT"), QStringLiteral("CHECK"),
                                             QStringLiteral("FOREIGN")};
    QList<QPair<QString, QString>> columns;
    for (int version = 1; version <= upTo; ++version) {
        for (const QString &statement : RecordsServerSchema::migrationTo(version)) {
            if (statement.startsWith(QStringLiteral("CREATE TABLE"), Qt::CaseInsensitive)) {
                const qsizetype open = statement.indexOf(QLatin1Char('('));
                const QString body = statement.mid(open + 1, statement.lastIndexOf(QLatin1Char(')')) - open - 1);
                for (const QString &definition : body.split(QLatin1Char(','))) {
                    const QStringList words = definition.simplified().split(QLatin1Char(' '));
                    if (words.size() >= 2 && !kConstraints.contains(words[0].toUpper()))
                        columns.append({words[0], words[1]});
                }
            }
            for (auto m = kAdded.globalMatch(statement); m.hasNext();) {
                const auto added = m.next();
                columns.append({added.captured(1), added.captured(2)});
            }
        }
    }
    return columns;
}

int versionOfComment(const QString &comment)
{
    if (!comment.startsWith(kCommentPrefix))
        return 0;
    return comment.mid(kCommentPrefix.size()).toInt();
}
}

QString RecordsServerSchema::differencesFromSchema(QSqlQuery &q, int version)
{
    QStringList wanted;
    for (const auto &column : columnsOfSchema(version))
        wanted << QStringLiteral("('%1', '%2')").arg(column.first, column.second);
    // Each column the schema gives that the table lacks or holds as another
    // type; a column the table has beside them is its owner's affair.
    const QString statement = QStringLiteral(
        "SELECT w.name, w.type::regtype::text, format_type(a.atttypid, a.atttypmod) FROM (VALUES %1) AS w(name, type) "
        "LEFT JOIN pg_attribute a ON a.attrelid = to_regclass('%2') AND a.attname = w.name AND a.attnum > 0 "
        "AND NOT a.attisdropped WHERE a.attname IS NULL OR a.atttypid <> w.type::regtype ORDER BY w.name")
                                  .arg(wanted.join(QLatin1Char(',')), kTable);
    if (!q.exec(statement))
        return q.lastError().text();
    QStringList differences;
    while (q.next())
        differences << (q.value(2).isNull() ? QStringLiteral("it lacks the column %1 (%2)")
                                                   .arg(q.value(0).toString(), q.value(1).toString())
                                             : QStringLiteral("its column %1 is %2, not %3")
                                                   .arg(q.value(0).toString(), q.value(2).toString(),
                                                        q.value(1).toString()));
    return differences.join(QStringLiteral("; "));
}

QString RecordsServerSchema::serverColumn(const QString &localColumn)
{
    return kRenamed.value(localColumn, localColumn);
}

QStringList RecordsServerSchema::migrationTo(int version)
{
    if (version != 1)
        return {};
    QFile file(kSchemaOneFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return statementsOf(QString::fromUtf8(file.readAll()));
}

RecordsServerSchema::InitResult RecordsServerSchema::initialize(RecordsSession &session)
{
    InitResult result;
    QSqlDatabase db = session.database();
    QSqlQuery q(db);
    const auto fail = [&](const QSqlQuery &failedQuery) {
        result.problem = session.failedBecause(failedQuery.lastError().text());
        db.rollback();
        return result;
    };
    if (!db.transaction())
        return fail(q);
    if (!q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kInitLockKey)))
        return fail(q);
    if (!q.exec(QStringLiteral("SELECT obj_description(to_regclass('%1'), 'pg_class')").arg(kTable)) || !q.next())
        return fail(q);
    result.before = versionOfComment(q.value(0).toString());
    // A table of that name made by someone else, without our comment, is not ours to change.
    if (result.before == 0) {
        if (!q.exec(QStringLiteral("SELECT to_regclass('%1') IS NOT NULL").arg(kTable)) || !q.next())
            return fail(q);
        if (q.value(0).toBool()) {
            db.rollback();
            result.problem = QStringLiteral("a table %1 exists but was not made by ovfw (its comment names no "
                                            "schema); it is left alone")
                                 .arg(kTable);
            return result;
        }
    }
    q.finish();
    for (int version = result.before + 1; version <= kVersion; ++version) {
        const QStringList statements = migrationTo(version);
        if (statements.isEmpty()) {
            db.rollback();
            result.problem = QStringLiteral("the statements of schema %1 are missing from this program").arg(version);
            return result;
        }
        for (const QString &statement : statements)
            if (!q.exec(statement))
                return fail(q);
    }
    result.after = std::max(result.before, kVersion);
    // The comment alone does not prove the table: a column dropped or changed
    // by hand would fail every push.
    if (result.after == kVersion) {
        const QString differs = differencesFromSchema(q, kVersion);
        if (!differs.isEmpty()) {
            db.rollback();
            result.problem = QStringLiteral("the records table %1 says schema %2, but %3; put the column right, or "
                                            "rename the table and run init-server again")
                                 .arg(kTable)
                                 .arg(kVersion)
                                 .arg(differs);
            return result;
        }
    }
    if (!db.commit())
        return fail(q);
    result.ok = true;
    return result;
}

QString RecordsServerSchema::upsertStatement()
{
    const QStringList columns = serverColumns();
    QStringList updates;
    for (const QString &c : columns)
        if (c != QLatin1String("uuid"))
            updates << QStringLiteral("%1 = EXCLUDED.%1").arg(c);
    updates << QStringLiteral("received_utc = now()");
    const QString list = columns.join(QLatin1Char(','));
    // %1 is left for the rows, which hold '%' signs of their own.
    return QStringLiteral("INSERT INTO ") + kTable + QStringLiteral(" (") + list + QStringLiteral(") SELECT ") + list +
           QStringLiteral(" FROM json_populate_recordset(NULL::") + kTable +
           QStringLiteral(", %1) ON CONFLICT (uuid) DO UPDATE SET ") + updates.join(QLatin1Char(',')) +
           QStringLiteral(" WHERE ") + kTable + QStringLiteral(".revision < EXCLUDED.revision");
}

QByteArray RecordsServerSchema::rowsJson(const QList<AttemptRecord> &rows)
{
    QJsonArray array;
    for (const AttemptRecord &r : rows) {
        QJsonObject o{{QStringLiteral("uuid"), r.uuid},
                      {QStringLiteral("revision"), r.revision},
                      {QStringLiteral("local_id"), r.id}};
        for (const auto &values : {HistorySchema::startValues(r), HistorySchema::endValues(r),
                                   HistorySchema::verifiedValues(r)})
            for (const HistorySchema::ColumnValue &c : values)
                o.insert(serverColumn(c.column), QJsonValue::fromVariant(c.value));
        array.append(o);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

QString RecordsServerSchema::selectColumns()
{
    // In HistorySchema::selectColumns' order: the bench's own id, then the rest.
    QStringList columns;
    for (const QString &local : HistorySchema::selectColumns().split(QLatin1Char(','))) {
        if (local == QLatin1String("id"))
            columns << QStringLiteral("local_id");
        else if (local == QLatin1String("uuid"))
            columns << QStringLiteral("uuid::text");
        else if (kTimes.contains(local))
            columns << QStringLiteral("to_char(%1 AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')").arg(local);
        else
            columns << serverColumn(local);
    }
    return columns.join(QLatin1Char(','));
}

QString RecordsServerSchema::failedCondition()
{
    return HistorySchema::failedCondition(QStringLiteral("false"));  // `verified` is a boolean there
}
