#include "history/HistoryStore.h"
#include "history/HistoryFiles.h"
#include "history/HistorySchema.h"
#include "base/EventWait.h"
#include <QAtomicInt>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>
#include <cstdio>

namespace {
constexpr int kSqliteBusy = 5;
constexpr int kSqliteLocked = 6;
constexpr int kSqliteCorrupt = 11;
constexpr int kSqliteNotADatabase = 26;
constexpr int kBusyRetryMs = 10;  // between tries while another connection holds the file

QAtomicInt connectionCounter;

// Another connection holds the file for a moment: while a new file turns to
// WAL, or a WAL file is recovered, SQLite answers at once without waiting.
bool isBusy(const QSqlError &e)
{
    const int code = e.nativeErrorCode().toInt() & 0xff;
    return code == kSqliteBusy || code == kSqliteLocked;
}

bool isCorrupt(const QSqlError &e)
{
    const int code = e.nativeErrorCode().toInt() & 0xff;  // the primary result code
    return code == kSqliteCorrupt || code == kSqliteNotADatabase;
}
}

QString HistoryStore::defaultPath()
{
    QString named = qEnvironmentVariable(kEnvironmentVariable);
    if (!named.isEmpty())
        return named;
    return HistoryFiles::stateFolder() + QStringLiteral("/ovfw-upgrade/history.sqlite");
}

QString HistoryStore::nowUtc()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
}

void HistoryStore::note(const QString &text)
{
    static QAtomicInt noted;
    if (!noted.testAndSetOrdered(0, 1))
        return;
    const QString line = QStringLiteral("%1: upgrade history: %2\n").arg(QCoreApplication::applicationName(), text);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

void HistoryStore::prepareForThreads()
{
    QSqlDatabase::drivers();
}

HistoryStore::HistoryStore(Access access, const QString &path)
    : access_(access), path_(path),
      connection_(QStringLiteral("ovfw-history-%1").arg(connectionCounter.fetchAndAddOrdered(1)))
{
    if (path_.isEmpty())
        return;
    if (access_ == Access::Read && !QFileInfo::exists(path_))
        return;  // nothing recorded yet
    // Only a regular file is a history; SQLite would say no more of a folder
    // or a FIFO than "disk I/O error".
    if (QFileInfo::exists(path_) && !QFileInfo(path_).isFile()) {
        failed(QStringLiteral("cannot use %1").arg(path_), QStringLiteral("not a file"));
        return;
    }
    if (access_ == Access::Write) {
        QString why;
        if (!HistoryFiles::createFile(path_, why)) {
            failed(QStringLiteral("cannot create %1").arg(path_), why);
            return;
        }
    }
    open_ = openConnection() && prepare();
    if (!open_)
        close();
}

HistoryStore::~HistoryStore()
{
    close();
}

QSqlDatabase HistoryStore::database() const
{
    return QSqlDatabase::database(connection_, false);
}

void HistoryStore::close()
{
    if (!QSqlDatabase::contains(connection_))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

bool HistoryStore::failed(const QString &what, const QString &why)
{
    if (access_ == Access::Write)
        note(QStringLiteral("%1 (%2); the upgrade goes on without it").arg(what, why));
    else
        problem_ = QStringLiteral("%1 (%2)").arg(what, why);
    open_ = false;
    return false;
}

bool HistoryStore::readFailed(const QString &why)
{
    problem_ = QStringLiteral("cannot read %1 (%2)").arg(path_, why);
    return false;
}

bool HistoryStore::openConnection()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    if (!db.isValid())
        return failed(QStringLiteral("no SQLite driver"), QStringLiteral("install libqt6sql6-sqlite"));
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
    if (!db.open())
        return failed(QStringLiteral("cannot open %1").arg(path_), db.lastError().text());
    return true;
}

// The pragmas, then the schema. A file SQLite cannot read as a database is
// moved aside once and a new one started.
bool HistoryStore::prepare()
{
    int busyWaited = 0;  // milliseconds
    for (int attempt = 0;; ++attempt) {
        QSqlQuery q(database());
        const bool ok = q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) &&
                        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL")) &&
                        q.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(kBusyTimeoutMs)) &&
                        q.exec(QStringLiteral("PRAGMA user_version")) && q.next();
        if (ok) {
            const int version = q.value(0).toInt();
            q.finish();
            if (version > kSchemaVersion) {
                note(QStringLiteral("%1 has a newer schema (%2); it is read but not written")
                         .arg(path_)
                         .arg(version));
                writable_ = false;
                return true;
            }
            writable_ = access_ == Access::Write;
            if (version == kSchemaVersion)
                return true;
            if (access_ == Access::Read && version == 0)
                return false;  // made, but nothing recorded yet
            return migrate(version);
        }
        const QSqlError error = q.lastError();
        q.finish();
        if (isBusy(error) && busyWaited < kBusyTimeoutMs) {
            EventWait::sleepFor(kBusyRetryMs / 1000.0);  // the thread keeps serving its events
            busyWaited += kBusyRetryMs;
            --attempt;
            continue;
        }
        if (!isCorrupt(error) || attempt > 0 || access_ != Access::Write)
            return failed(QStringLiteral("cannot use %1").arg(path_), error.text());
        moveAside();
        QString why;
        if (!HistoryFiles::createFile(path_, why) || !openConnection())
            return failed(QStringLiteral("cannot start %1 anew").arg(path_), why);
    }
}

bool HistoryStore::migrate(int from)
{
    QSqlDatabase db = database();
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return failed(QStringLiteral("cannot write %1").arg(path_), q.lastError().text());
    // Another process may have migrated while this one waited.
    if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next())
        from = q.value(0).toInt();
    q.finish();
    for (int version = from; version < kSchemaVersion; ++version) {
        for (const QString &statement : HistorySchema::migrationTo(version + 1)) {
            if (!q.exec(statement)) {
                const QString why = q.lastError().text();
                q.exec(QStringLiteral("ROLLBACK"));
                return failed(QStringLiteral("cannot write %1").arg(path_), why);
            }
        }
    }
    if (!q.exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion)) || !q.exec(QStringLiteral("COMMIT"))) {
        const QString why = q.lastError().text();
        q.exec(QStringLiteral("ROLLBACK"));
        return failed(QStringLiteral("cannot write %1").arg(path_), why);
    }
    return true;
}

void HistoryStore::moveAside()
{
    close();
    const QString aside = path_ + QStringLiteral(".corrupt-") +
                          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QFile::rename(path_, aside);
    QFile::rename(path_ + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(path_ + QStringLiteral("-shm"));
    note(QStringLiteral("%1 was not a readable database; kept as %2 and a new one started").arg(path_, aside));
}

qint64 HistoryStore::insert(AttemptRecord &r)
{
    if (!isWritable())
        return 0;
    r.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.revision = 1;
    QSqlQuery q(database());
    q.prepare(HistorySchema::insertStatement());
    HistorySchema::bindAll(q, r);
    if (!q.exec()) {
        failed(QStringLiteral("cannot write %1").arg(path_), q.lastError().text());
        return 0;
    }
    return q.lastInsertId().toLongLong();
}

bool HistoryStore::verified(const AttemptRecord &r)
{
    if (!isWritable() || r.id <= 0)
        return false;
    QSqlQuery q(database());
    q.prepare(QStringLiteral(
        "UPDATE attempts SET firmware_after=:firmware_after, verified=:verified, revision=revision+1 WHERE id=:id"));
    for (const HistorySchema::ColumnValue &c : HistorySchema::verifiedValues(r))
        q.bindValue(QLatin1Char(':') + c.column, c.value);
    q.bindValue(QStringLiteral(":id"), r.id);
    if (!q.exec())
        return failed(QStringLiteral("cannot write %1").arg(path_), q.lastError().text());
    return true;
}

bool HistoryStore::linesSentSoFar(const AttemptRecord &r)
{
    if (!isWritable() || r.id <= 0)
        return false;
    QSqlQuery q(database());
    q.exec(QStringLiteral("PRAGMA busy_timeout=0"));
    q.prepare(QStringLiteral("UPDATE attempts SET lines_sent=:lines WHERE id=:id AND outcome IS NULL"));
    q.bindValue(QStringLiteral(":lines"), r.linesSent);
    q.bindValue(QStringLiteral(":id"), r.id);
    const bool written = q.exec();
    const QSqlError error = q.lastError();
    q.exec(QStringLiteral("PRAGMA busy_timeout=%1").arg(kBusyTimeoutMs));
    if (!written && !isBusy(error))
        failed(QStringLiteral("cannot write %1").arg(path_), error.text());
    return written;
}

bool HistoryStore::complete(const AttemptRecord &r)
{
    if (!isWritable() || r.id <= 0)
        return false;
    QSqlQuery q(database());
    q.prepare(HistorySchema::completeStatement());
    HistorySchema::bindEnd(q, r);
    if (!q.exec())
        return failed(QStringLiteral("cannot write %1").arg(path_), q.lastError().text());
    return true;
}
