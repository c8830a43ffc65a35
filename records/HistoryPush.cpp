#include "records/HistoryPush.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"
#include "records/RecordsServerSchema.h"
#include "records/RecordsSession.h"
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QVariant>

namespace {

qint64 countWaiting(HistoryStore &local)
{
    QSqlQuery q(local.database());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM attempts WHERE ") + HistorySchema::unpushedCondition()) ||
        !q.next())
        return -1;
    return q.value(0).toLongLong();
}

bool readWaiting(HistoryStore &local, int limit, QList<AttemptRecord> &rows)
{
    QSqlQuery q(local.database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM attempts WHERE %2 ORDER BY id LIMIT %3")
                    .arg(HistorySchema::selectColumns(), HistorySchema::unpushedCondition())
                    .arg(limit)))
        return false;
    while (q.next())
        rows << HistorySchema::fromQuery(q);
    return !q.lastError().isValid();
}

// The server has the rows' revisions: the local history says so. A row
// finished meanwhile keeps its newer revision waiting.
bool markTaken(HistoryStore &local, const QList<AttemptRecord> &rows)
{
    QSqlDatabase db = local.database();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    q.prepare(QStringLiteral(
        "UPDATE attempts SET pushed_revision = :revision WHERE id = :id AND pushed_revision < :revision"));
    for (const AttemptRecord &r : rows) {
        q.bindValue(QStringLiteral(":revision"), r.revision);
        q.bindValue(QStringLiteral(":id"), r.id);
        if (!q.exec()) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            return false;
        }
    }
    return QSqlQuery(db).exec(QStringLiteral("COMMIT"));
}
}

PushSettings PushSettings::fromEnvironment()
{
    PushSettings s;
    bool ok = false;
    const int rows = qEnvironmentVariableIntValue(kBatchRowsVariable, &ok);
    if (ok && rows > 0)
        s.batchRows = rows;
    const qint64 lock = qEnvironmentVariable(kPauseLockVariable).toLongLong(&ok);
    if (ok)
        s.pauseLock = lock;
    return s;
}

QString PushOutcome::describe(const RecordsServerAddress &server) const
{
    const QString waitingText = waiting == 1 ? QStringLiteral("1 row waits for the next push")
                                             : QStringLiteral("%1 rows wait for the next push").arg(waiting);
    switch (kind) {
    case Kind::Done:
        if (pushed == 0)
            return QStringLiteral("nothing to push to %1: it has every row").arg(server.given);
        return QStringLiteral("%1 row%2 pushed to %3").arg(pushed).arg(pushed == 1 ? QString() : QStringLiteral("s"), server.given);
    case Kind::Cut:
        return QStringLiteral("the push to %1 reached its deadline after %2 rows; %3").arg(server.given).arg(pushed).arg(waitingText);
    case Kind::NoDriver:
        return QStringLiteral("cannot push to %1: %2; %3").arg(server.given, problem, waitingText);
    case Kind::Unreachable:
        return QStringLiteral("cannot reach the records server %1 (%2); %3").arg(server.given, problem, waitingText);
    case Kind::NoTable:
        return QStringLiteral("the records server %1 has no records table yet (ovfw history init-server makes it); %2")
            .arg(server.given, waitingText);
    case Kind::Failed:
        return QStringLiteral("the push to %1 failed (%2); %3").arg(server.given, problem, waitingText);
    case Kind::LocalUnusable:
        return QStringLiteral("cannot push: %1").arg(problem);
    }
    return {};
}

PushOutcome pushHistory(HistoryStore &local, const RecordsServerAddress &server, const PushSettings &settings)
{
    PushOutcome out;
    if (!local.isOpen()) {
        out.kind = PushOutcome::Kind::LocalUnusable;
        out.problem = QStringLiteral("%1 cannot be opened").arg(local.path());
        return out;
    }
    if (!local.isWritable()) {
        out.kind = PushOutcome::Kind::LocalUnusable;
        out.problem = QStringLiteral("%1 cannot be written, so what was pushed cannot be marked").arg(local.path());
        return out;
    }
    out.waiting = countWaiting(local);
    if (out.waiting <= 0) {
        out.waiting = 0;
        return out;
    }
    RecordsSession session(server, settings.deadlineSeconds);
    if (!session.isOpen()) {
        out.kind = session.failure() == RecordsSession::Failure::NoDriver ? PushOutcome::Kind::NoDriver
                                                                          : PushOutcome::Kind::Unreachable;
        out.problem = session.problem();
        return out;
    }
    QSqlDatabase db = session.database();
    const QString upsert = RecordsServerSchema::upsertStatement();
    for (;;) {
        QList<AttemptRecord> rows;
        if (!readWaiting(local, settings.batchRows, rows)) {
            out.kind = PushOutcome::Kind::LocalUnusable;
            out.problem = QStringLiteral("cannot read %1").arg(local.path());
            break;
        }
        if (rows.isEmpty())
            break;
        if (settings.deadlineEachBatch ? !session.extendDeadline(settings.deadlineSeconds) : session.deadlinePassed()) {
            out.kind = PushOutcome::Kind::Cut;
            break;
        }
        // The rows go as one literal, escaped by the driver: a statement run
        // as it is leaves no prepared statement behind on a broken connection.
        QSqlField rowsField(QStringLiteral("rows"), QMetaType(QMetaType::QString));
        rowsField.setValue(QString::fromUtf8(RecordsServerSchema::rowsJson(rows)));
        QSqlQuery q(db);
        bool sent = db.transaction() && q.exec(upsert.arg(db.driver()->formatValue(rowsField)));
        if (sent && settings.pauseLock != 0 && out.pushed > 0)
            sent = q.exec(QStringLiteral("SELECT pg_advisory_xact_lock_shared(%1)").arg(settings.pauseLock));
        const QSqlError error = sent ? QSqlError() : q.lastError().isValid() ? q.lastError() : db.lastError();
        q.finish();
        if (!sent || !db.commit()) {
            const QSqlError why = sent ? db.lastError() : error;
            if (db.isOpen())
                db.rollback();
            // A batch the deadline cut off is a cut, as one it came before.
            out.kind = why.nativeErrorCode() == RecordsServerSchema::kUndefinedTable ? PushOutcome::Kind::NoTable
                       : session.deadlinePassed()                                    ? PushOutcome::Kind::Cut
                                                                                     : PushOutcome::Kind::Failed;
            out.problem = session.failedBecause(why.text());
            break;
        }
        out.pushed += rows.size();
        if (!markTaken(local, rows)) {
            out.kind = PushOutcome::Kind::LocalUnusable;
            out.problem = QStringLiteral("cannot mark the pushed rows in %1; they are sent again next time, and "
                                         "the server keeps them once")
                              .arg(local.path());
            break;
        }
    }
    out.waiting = std::max<qint64>(0, countWaiting(local));
    return out;
}
