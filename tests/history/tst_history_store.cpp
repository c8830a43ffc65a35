// The upgrade history's store: its queries, how it tells a running attempt
// from an interrupted one, and what it does with a file it cannot use.
#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"
#include "history/ProcessIdentity.h"
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

Q_DECLARE_METATYPE(HistoryFilter)

namespace {
struct Row {
    QString started;  // UTC
    int port;
    QString serial;
    QString outcome;  // empty: never completed
    bool alive;       // written by this process (else by one that is gone)
    int verified = -1;
};

// Ids follow this order, but for the last two: one dated before all the
// others, one started at the same time as 8.
const QList<Row> kRows = {
    {"2026-01-01T08:00:00.000Z", 1, "A1", HistoryOutcome::Completed, false},
    {"2026-01-02T08:00:00.000Z", 2, "B2", HistoryOutcome::UnexpectedEnd, false},
    {"2026-01-03T08:00:00.000Z", 1, "A1", QString(), false},  // interrupted
    {"2026-01-04T08:00:00.000Z", 3, "C3", HistoryOutcome::Declined, false},
    {"2026-01-05T08:00:00.000Z", 2, "B2", QString(), true},   // running
    {"2026-01-06T08:00:00.000Z", 1, "A1", HistoryOutcome::Stopped, false},
    {"2026-01-07T08:00:00.000Z", 3, "C3", HistoryOutcome::ModelMismatch, false},
    {"2026-01-08T08:00:00.000Z", 3, "C3", HistoryOutcome::Completed, false, 0},  // not verified
    {"2025-12-31T08:00:00.000Z", 4, "D4", HistoryOutcome::Completed, false},
    {"2026-01-08T08:00:00.000Z", 4, "D4", HistoryOutcome::Completed, false},
};

qint64 deadPid()
{
    QProcess p;
    p.start(QStringLiteral("true"));
    p.waitForFinished();
    return p.processId() > 0 ? p.processId() : 999999;
}

AttemptRecord record(const Row &row, qint64 gonePid)
{
    const ProcessIdentity &self = ProcessIdentity::current();
    AttemptRecord r;
    r.startedUtc = row.started;
    r.host = self.host;
    r.bootId = self.bootId;
    r.face = QStringLiteral("ovfw");
    r.pid = row.alive ? self.pid : gonePid;
    r.processStart = row.alive ? self.start : 0;
    r.port = row.port;
    r.serial = row.serial;
    r.outcome = row.outcome;
    r.endedUtc = row.outcome.isEmpty() ? QString() : row.started;
    return r;
}

QList<qint64> ids(const QList<AttemptRecord> &rows)
{
    QList<qint64> out;
    for (const AttemptRecord &r : rows)
        out << r.id;
    return out;
}
}

class TestHistoryStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        path_ = dir_.filePath(QStringLiteral("state/ovfw-upgrade/history.sqlite"));
        HistoryStore store(HistoryStore::Access::Write, path_);
        QVERIFY(store.isWritable());
        const qint64 gone = deadPid();
        for (const Row &row : kRows) {
            AttemptRecord r = record(row, gone);
            r.id = store.insert(r);
            QVERIFY(r.id > 0);
            r.verified = row.verified;
            QVERIFY(row.verified < 0 || store.verified(r));
        }
    }

    void madePrivateInWal()
    {
#ifdef Q_OS_UNIX
        // On Windows the file takes the user's own folder's access instead.
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path_).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
#endif
        HistoryStore store(HistoryStore::Access::Read, path_);
        QSqlQuery q(store.database());
        QVERIFY(q.exec("PRAGMA journal_mode") && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(q.exec("PRAGMA user_version") && q.next());
        QCOMPARE(q.value(0).toInt(), HistoryStore::kSchemaVersion);
    }

    void queries_data()
    {
        QTest::addColumn<HistoryFilter>("filter");
        QTest::addColumn<QList<qint64>>("expected");
        const auto f = [](QString serial, int port, QString since, bool failed, int limit) {
            HistoryFilter filter;
            filter.serial = serial;
            filter.port = port;
            filter.sinceUtc = since;
            filter.failed = failed;
            filter.limit = limit;
            return filter;
        };
        QTest::newRow("all, newest first by start, then id")
            << f({}, 0, {}, false, 50) << QList<qint64>{10, 8, 7, 6, 5, 4, 3, 2, 1, 9};
        QTest::newRow("limit") << f({}, 0, {}, false, 2) << QList<qint64>{10, 8};
        QTest::newRow("serial") << f("A1", 0, {}, false, 50) << QList<qint64>{6, 3, 1};
        QTest::newRow("port") << f({}, 2, {}, false, 50) << QList<qint64>{5, 2};
        QTest::newRow("since") << f({}, 0, "2026-01-05T08:00:00.000Z", false, 50) << QList<qint64>{10, 8, 7, 6, 5};
        // Failed: not the declined, the mismatch or the one still running;
        // the completed one that failed its verification.
        QTest::newRow("failed") << f({}, 0, {}, true, 50) << QList<qint64>{8, 6, 3, 2};
        QTest::newRow("failed, limit after the running is dropped") << f({}, 0, {}, true, 3) << QList<qint64>{8, 6, 3};
        QTest::newRow("everything at once") << f("A1", 1, "2026-01-02T00:00:00.000Z", true, 50) << QList<qint64>{6, 3};
        QTest::newRow("no match") << f("Z9", 0, {}, false, 50) << QList<qint64>{};
    }

    void queries()
    {
        QFETCH(HistoryFilter, filter);
        QFETCH(QList<qint64>, expected);
        HistoryStore store(HistoryStore::Access::Read, path_);
        QCOMPARE(ids(HistoryQuery::find(store, filter)), expected);
    }

    void unfinishedRowsAreRunningOrInterrupted()
    {
        HistoryStore store(HistoryStore::Access::Read, path_);
        QMap<qint64, QString> outcomes;
        for (const AttemptRecord &r : HistoryQuery::find(store, HistoryFilter{}))
            outcomes.insert(r.id, r.outcome);
        QCOMPARE(outcomes.value(5), HistoryOutcome::Running);
        QCOMPARE(outcomes.value(3), HistoryOutcome::Interrupted);
        // Another boot of this host: whatever the process id, it is gone.
        const ProcessIdentity &self = ProcessIdentity::current();
        QVERIFY(ProcessIdentity::stillRuns(self.host, self.bootId, self.pid, self.start));
        QVERIFY(!ProcessIdentity::stillRuns(self.host, "another-boot", self.pid, self.start));
        QVERIFY(!ProcessIdentity::stillRuns(self.host, self.bootId, self.pid, self.start + 1));
        QVERIFY(ProcessIdentity::stillRuns("another-host", "another-boot", 1, 0));
    }

    // A history of an earlier schema is brought up to this one, its rows
    // kept: a switch never acknowledged reads unknown, a failed verification
    // is found by --failed, and rows take the real device and USB serial.
    void migratesFromEarlierSchemas_data()
    {
        QTest::addColumn<int>("from");
        QTest::newRow("first") << 1;
        QTest::newRow("second") << 2;
        QTest::newRow("fourth") << 4;
    }

    void migratesFromEarlierSchemas()
    {
        QFETCH(int, from);
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "earlier");
            db.setDatabaseName(path);
            QVERIFY(db.open());
            QSqlQuery q(db);
            for (int version = 1; version <= from; ++version)
                for (const QString &statement : HistorySchema::migrationTo(version))
                    QVERIFY(q.exec(statement));
            QVERIFY(q.exec("INSERT INTO attempts (started_utc, face, found_in_boot_loader, serial, outcome, "
                           "left_in_boot_loader) VALUES ('2026-01-01T00:00:00.000Z', 'window', 0, 'OLD1', "
                           "'not_switched', 0)"));
            QVERIFY(q.exec("INSERT INTO attempts (started_utc, face, found_in_boot_loader, serial, outcome, "
                           "left_in_boot_loader) VALUES ('2026-01-02T00:00:00.000Z', 'ovfw', 0, 'OLD2', "
                           "'completed', 0)"));
            if (from >= 2)
                QVERIFY(q.exec("UPDATE attempts SET verified = 0 WHERE serial = 'OLD2'"));
            QVERIFY(q.exec(QStringLiteral("PRAGMA user_version=%1").arg(from)));
        }
        QSqlDatabase::removeDatabase("earlier");
        HistoryStore store(HistoryStore::Access::Write, path);
        QVERIFY(store.isWritable());
        QSqlQuery q(store.database());
        QVERIFY(q.exec("PRAGMA user_version") && q.next());
        QCOMPARE(q.value(0).toInt(), HistoryStore::kSchemaVersion);
        const QList<AttemptRecord> rows = HistoryQuery::find(store, HistoryFilter{});
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[1].serial, QStringLiteral("OLD1"));
        QCOMPARE(rows[1].leftInBootLoader.has_value(), from >= 3);  // a switch never acknowledged reads unknown
        QCOMPARE(rows[0].leftInBootLoader, std::optional<bool>(false));
        QCOMPARE(rows[0].verified, from >= 2 ? 0 : -1);
        // Each row known everywhere by its own random UUID; a finished row is
        // at its second revision, and no server has it yet.
        for (const AttemptRecord &r : rows) {
            QCOMPARE(QUuid::fromString(r.uuid).version(), QUuid::Random);
            QCOMPARE(r.revision, 2);
        }
        QVERIFY(rows[0].uuid != rows[1].uuid);
        QVERIFY(q.exec("SELECT count(*) FROM attempts WHERE pushed_revision < revision") && q.next());
        QCOMPARE(q.value(0).toInt(), 2);
        HistoryFilter failed;
        failed.failed = true;
        const QList<qint64> failedIds = from >= 2 ? QList<qint64>{2, 1} : QList<qint64>{1};
        QCOMPARE(ids(HistoryQuery::find(store, failed)), failedIds);
        AttemptRecord added = record(kRows.first(), 1);
        added.realDevice = "/dev/ttyUSB0";
        added.usbSerial = "FT5XYZ12";
        added.startedUtc = QStringLiteral("2026-02-01T00:00:00.000Z");
        QVERIFY(store.insert(added) > 0);
        const AttemptRecord back = HistoryQuery::find(store, HistoryFilter{}).first();
        QCOMPARE(back.realDevice, added.realDevice);
        QCOMPARE(back.usbSerial, added.usbSerial);
    }

    // The lines acknowledged so far are written when the history is free,
    // and skipped at once, not waited for, while another connection writes.
    void progressSkipsABusyHistory()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        HistoryStore store(HistoryStore::Access::Write, path);
        AttemptRecord r = record(kRows.at(2), 1);  // unfinished
        r.id = store.insert(r);
        QVERIFY(r.id > 0);
        r.linesSent = 40;
        {
            QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "other");
            other.setDatabaseName(path);
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(q.exec("BEGIN IMMEDIATE"));
            QElapsedTimer waited;
            waited.start();
            QVERIFY(!store.linesSentSoFar(r));
            QVERIFY2(waited.elapsed() < 1000, qPrintable(QString::number(waited.elapsed())));
            QVERIFY(q.exec("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase("other");
        QCOMPARE(HistoryQuery::find(store, HistoryFilter{}).first().linesSent, 0);
        QVERIFY(store.isWritable());
        QVERIFY(store.linesSentSoFar(r));
        QCOMPARE(HistoryQuery::find(store, HistoryFilter{}).first().linesSent, 40);
    }

    // Not a database: kept aside under a timed name, and a new one started.
    void aCorruptFileIsMovedAside()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        HistoryStore store(HistoryStore::Access::Write, path);
        QVERIFY(store.isWritable());
        AttemptRecord row = record(kRows.first(), 1);
        QVERIFY(store.insert(row) > 0);
        const QStringList aside = QDir(dir.path()).entryList({"history.sqlite.corrupt-*"});
        QCOMPARE(aside.size(), 1);
        QFile kept(dir.filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray(4096, 'x'));
    }

    // A newer schema is read but never written, and stays as it is.
    void aNewerSchemaIsLeftAlone()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("history.sqlite");
        {
            HistoryStore store(HistoryStore::Access::Write, path);
            QSqlQuery q(store.database());
            QVERIFY(q.exec(QStringLiteral("PRAGMA user_version=%1").arg(HistoryStore::kSchemaVersion + 1)));
        }
        HistoryStore store(HistoryStore::Access::Write, path);
        QVERIFY(store.isOpen() && !store.isWritable());
        AttemptRecord row = record(kRows.first(), 1);
        QCOMPARE(store.insert(row), 0);
        QSqlQuery q(store.database());
        QVERIFY(q.exec("SELECT count(*) FROM attempts") && q.next());
        QCOMPARE(q.value(0).toInt(), 0);
        QVERIFY(q.exec("PRAGMA user_version") && q.next());
        QCOMPARE(q.value(0).toInt(), HistoryStore::kSchemaVersion + 1);
        QVERIFY(QDir(dir.path()).entryList({"*corrupt*"}).isEmpty());
    }

private:
    QTemporaryDir dir_;
    QString path_;
};

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_history_store.moc"
