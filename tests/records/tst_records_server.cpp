// The local history pushed to a records server and read back from it,
// against a real PostgreSQL 15 started for the test, with ovfw as a process.
#include "HexFiles.h"
#include "OvfwRig.h"
#include "PostgresServer.h"
#include "SilentListener.h"
#include "upgrade/FileFacts.h"
#include "history/HistoryStore.h"
#include "records/HistoryPush.h"
#include "records/RecordsServerAddress.h"
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <csignal>

namespace {
constexpr qint64 kPauseLock = 4242;
constexpr int kSmallBatch = 10;
constexpr double kPushDeadlineSeconds = 5;
constexpr double kEndSlackSeconds = 2.5;  // the grace finish() allows, and a slow machine

// A local history of `rows` attempts of `station`, finished unless
// `running` of them at the end are not.
QList<AttemptRecord> makeHistory(const QString &path, int rows, const QString &station, int running = 0)
{
    QList<AttemptRecord> made;
    HistoryStore store(HistoryStore::Access::Write, path);
    for (int i = 0; i < rows; ++i) {
        AttemptRecord r;
        // Not in the order of their ids, and some started at the same time.
        r.startedUtc = QStringLiteral("2026-12-0%1T08:0%2:00.000Z").arg(1 + i % 7).arg(i % 2);
        r.host = station + QStringLiteral("-host");
        r.face = QStringLiteral("ovfw");
        r.station = station;
        r.socket = QStringLiteral("S%1").arg(i % 4);
        r.serial = QStringLiteral("OV3A%1").arg(i, 5, 10, QLatin1Char('0'));
        r.model = QStringLiteral("3A");
        r.foundInBootLoader = i % 5 == 0;
        r.filePath = QStringLiteral("/srv/OV3A_FW0211.OVH");
        r.linesTotal = 1026;
        r.id = store.insert(r);
        if (i < rows - running) {
            r.endedUtc = r.startedUtc;
            r.outcome = i % 3 == 0 ? HistoryOutcome::Failed : HistoryOutcome::Completed;
            r.linesSent = r.outcome == HistoryOutcome::Completed ? 1026 : 17;
            r.leftInBootLoader = r.outcome != HistoryOutcome::Completed;
            store.complete(r);
        }
        made << r;
    }
    return made;
}

// The last column of each CSV line: the row's UUID.
QStringList uuidsOf(const QString &csv)
{
    QStringList uuids;
    for (const QString &line : csv.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        uuids << line.section(QLatin1Char(','), -1);
    return uuids;
}

QMap<QString, int> localRevisions(const QString &path)
{
    QMap<QString, int> revisions;
    HistoryStore store(HistoryStore::Access::Read, path);
    QSqlQuery q(store.database());
    q.exec(QStringLiteral("SELECT uuid, revision FROM attempts"));
    while (q.next())
        revisions.insert(q.value(0).toString(), q.value(1).toInt());
    return revisions;
}

int localWaiting(const QString &path)
{
    HistoryStore store(HistoryStore::Access::Read, path);
    QSqlQuery q(store.database());
    return q.exec(QStringLiteral("SELECT count(*) FROM attempts WHERE pushed_revision < revision")) && q.next()
               ? q.value(0).toInt()
               : -1;
}
}

class TestRecordsServer : public QObject {
    Q_OBJECT

    PostgresServer server_;
    QTemporaryDir dir_;

    QProcessEnvironment env(const QString &history, int batch = PushSettings::kBatchRows, bool pause = false)
    {
        QProcessEnvironment e = server_.environment(ovfwEnvironment({}, history));
        e.insert(QString::fromLatin1(PushSettings::kBatchRowsVariable), QString::number(batch));
        if (pause)
            e.insert(QString::fromLatin1(PushSettings::kPauseLockVariable), QString::number(kPauseLock));
        return e;
    }
    OvfwRun push(const QString &history, const QString &url = {})
    {
        QProcess p;
        startOvfw(p, {QStringLiteral("history"), QStringLiteral("push"), QStringLiteral("--server"),
                      url.isEmpty() ? server_.url() : url},
                  env(history, kSmallBatch));
        return finishOvfw(p);
    }
    // The server's rows: revision by UUID.
    QMap<QString, int> serverRevisions()
    {
        QMap<QString, int> revisions;
        QSqlDatabase db = server_.connect();
        QSqlQuery q(db);
        q.exec(QStringLiteral("SELECT uuid::text, revision FROM ovfw_attempts"));
        while (q.next())
            revisions.insert(q.value(0).toString(), q.value(1).toInt());
        return revisions;
    }
    bool pushWaitsOnLock()
    {
        QSqlDatabase db = server_.connect();
        return QTest::qWaitFor([&] {
            QSqlQuery q(db);
            return q.exec(QStringLiteral("SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND NOT granted")) &&
                   q.next() && q.value(0).toInt() > 0;
        });
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(server_.ready(), qPrintable(server_.log()));
        for (const QString &said : {QStringLiteral("now at schema 1 (was 0)"), QStringLiteral("at schema 1 already")}) {
            QProcess p;
            startOvfw(p, {QStringLiteral("history"), QStringLiteral("init-server"), server_.url()},
                      server_.environment(ovfwEnvironment({})));
            const OvfwRun r = finishOvfw(p);
            QVERIFY2(r.exitCode == 0 && r.out.contains(said), qPrintable(r.out + r.err));
        }
        // A station's role: no more than the grants the docs give it.
        QVERIFY2(server_.addRole(QStringLiteral("bench_b"), QStringLiteral("b-secret")) &&
                     server_.admin(QStringLiteral("GRANT SELECT, INSERT, UPDATE ON ovfw_attempts TO bench_b")),
                 qPrintable(server_.log()));
    }

    // A table the comment calls current is checked column by column; what
    // its owner added beside the schema's columns is left alone.
    void initServerChecksTheColumns_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("undo");
        QTest::addColumn<QString>("said");
        QTest::newRow("a column dropped")
            << "DROP COLUMN verified" << "ADD COLUMN verified boolean" << "it lacks the column verified (boolean)";
        QTest::newRow("a column's type changed") << "ALTER COLUMN retries TYPE bigint"
                                                 << "ALTER COLUMN retries TYPE integer"
                                                 << "its column retries is bigint, not integer";
        QTest::newRow("a column added") << "ADD COLUMN checked_by text" << "DROP COLUMN checked_by" << "";
    }
    void initServerChecksTheColumns()
    {
        QFETCH(QString, change);
        QFETCH(QString, undo);
        QFETCH(QString, said);
        QVERIFY(server_.admin(QStringLiteral("ALTER TABLE ovfw_attempts ") + change));
        QProcess p;
        startOvfw(p, {QStringLiteral("history"), QStringLiteral("init-server"), server_.url()},
                  server_.environment(ovfwEnvironment({})));
        const OvfwRun r = finishOvfw(p);
        QVERIFY(server_.admin(QStringLiteral("ALTER TABLE ovfw_attempts ") + undo));
        if (said.isEmpty()) {
            QVERIFY2(r.exitCode == 0 && r.out.contains(QStringLiteral("at schema 1 already")), qPrintable(r.err));
        } else {
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(QStringLiteral("says schema 1, but ") + said), qPrintable(r.err));
        }
    }

    void init()
    {
        // The reads share one set of rows, made by their first case.
        if (QTest::currentTestFunction() != QLatin1String("readsAcrossStations"))
            QVERIFY(server_.admin(QStringLiteral("TRUNCATE ovfw_attempts")));
    }

    // Every way a push can go, and after each the server holds exactly the
    // local rows in their latest revision, and one more push sends nothing.
    void pushesExactlyOnce_data()
    {
        QTest::addColumn<QString>("story");
        for (const char *story : {"two stations at once", "running, then finished", "server stopped mid-push",
                                  "killed mid-push"})
            QTest::newRow(story) << QString::fromLatin1(story);
    }
    void pushesExactlyOnce()
    {
        QFETCH(QString, story);
        const QString a = dir_.filePath(story + QStringLiteral("-a.sqlite"));
        const QString b = dir_.filePath(story + QStringLiteral("-b.sqlite"));
        QStringList histories{a};
        if (story == QLatin1String("two stations at once")) {
            histories << b;
            makeHistory(a, 230, QStringLiteral("line1"));
            makeHistory(b, 170, QStringLiteral("line2"), 3);
            QProcess first, second;
            startOvfw(first, {QStringLiteral("history"), QStringLiteral("push"), QStringLiteral("--server"), server_.url()},
                      env(a, kSmallBatch));
            startOvfw(second,
                      {QStringLiteral("history"), QStringLiteral("push"), QStringLiteral("--server"),
                       server_.url(QStringLiteral("bench_b"))},
                      env(b, kSmallBatch));
            const OvfwRun one = finishOvfw(first), two = finishOvfw(second);
            QVERIFY2(one.exitCode == 0, qPrintable(one.err));
            QVERIFY2(two.exitCode == 0, qPrintable(two.err));
        } else if (story == QLatin1String("running, then finished")) {
            QList<AttemptRecord> rows = makeHistory(a, 12, QStringLiteral("line1"), 1);
            QCOMPARE(push(a).exitCode, 0);
            AttemptRecord last = rows.last();
            last.endedUtc = last.startedUtc;
            last.outcome = HistoryOutcome::Completed;
            last.linesSent = last.linesTotal;
            HistoryStore(HistoryStore::Access::Write, a).complete(last);
            QCOMPARE(push(a).exitCode, 0);
            QSqlDatabase db = server_.connect();
            QSqlQuery q(db);
            QVERIFY(q.exec(QStringLiteral("SELECT outcome, lines_sent, revision FROM ovfw_attempts WHERE uuid = '%1'")
                               .arg(last.uuid)) &&
                    q.next());
            QCOMPARE(q.value(0).toString(), HistoryOutcome::Completed);
            QCOMPARE(q.value(1).toLongLong(), last.linesTotal);
            QCOMPARE(q.value(2).toInt(), 2);
        } else {
            makeHistory(a, 45, QStringLiteral("line1"));
            QSqlDatabase holder = server_.connect();
            QSqlQuery(holder).exec(QStringLiteral("SELECT pg_advisory_lock(%1)").arg(kPauseLock));
            QProcess p;
            startOvfw(p, {QStringLiteral("history"), QStringLiteral("push"), QStringLiteral("--server"), server_.url()},
                      env(a, kSmallBatch, true));
            QVERIFY(pushWaitsOnLock());  // the first batch is in, the second waits to commit
            if (story == QLatin1String("killed mid-push")) {
                ::kill(static_cast<pid_t>(p.processId()), SIGKILL);
                QVERIFY(p.waitForFinished());
                holder.close();
            } else {
                QVERIFY2(server_.stop(), qPrintable(server_.log()));
                const OvfwRun cut = finishOvfw(p);
                QCOMPARE(cut.exitCode, 1);
                QVERIFY2(cut.err.count(QLatin1Char('\n')) == 1, qPrintable(cut.err));
                QVERIFY2(cut.err.contains(QStringLiteral("rows wait for the next push")), qPrintable(cut.err));
                QVERIFY2(server_.start(), qPrintable(server_.log()));
            }
            QCOMPARE(serverRevisions().size(), kSmallBatch);
            QCOMPARE(localWaiting(a), 45 - kSmallBatch);
            const OvfwRun again = push(a);
            QVERIFY2(again.exitCode == 0, qPrintable(again.err));
        }
        QMap<QString, int> local;
        for (const QString &h : histories) {
            local.insert(localRevisions(h));
            QCOMPARE(localWaiting(h), 0);
        }
        QCOMPARE(serverRevisions(), local);
        const OvfwRun nothing = push(a);
        QVERIFY2(nothing.exitCode == 0 && nothing.out.startsWith(QStringLiteral("nothing to push")),
                 qPrintable(nothing.out + nothing.err));
        QCOMPARE(serverRevisions(), local);
    }

    // A slow server: each row takes it 20 ms, so the backlog takes longer
    // than one deadline. In batches that each end within it, every row goes
    // in one run; a batch that does not is cut, and nothing is lost.
    void aLargeBacklogGoesInOneRun_data()
    {
        QTest::addColumn<int>("batch");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("batches within the deadline") << kSmallBatch << 0 << "300 rows pushed to";
        QTest::newRow("one batch beyond it")
            << 300 << 1 << "reached its deadline after 0 rows; 300 rows wait for the next push";
    }
    void aLargeBacklogGoesInOneRun()
    {
        QFETCH(int, batch);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QVERIFY(server_.admin(QStringLiteral("CREATE OR REPLACE FUNCTION slow_row() RETURNS trigger LANGUAGE plpgsql "
                                             "AS $$ BEGIN PERFORM pg_sleep(0.02); RETURN NEW; END $$")));
        QVERIFY(server_.admin(QStringLiteral("CREATE TRIGGER slow_rows BEFORE INSERT ON ovfw_attempts FOR EACH ROW "
                                             "EXECUTE FUNCTION slow_row()")));
        const auto fast = qScopeGuard([this] { server_.admin(QStringLiteral("DROP TRIGGER slow_rows ON ovfw_attempts")); });
        const QString history = dir_.filePath(QStringLiteral("backlog-%1.sqlite").arg(batch));
        makeHistory(history, 300, QStringLiteral("line1"));
        QProcess p;
        QElapsedTimer took;
        took.start();
        startOvfw(p, {QStringLiteral("history"), QStringLiteral("push"), QStringLiteral("--server"), server_.url()},
                  env(history, batch));
        const OvfwRun r = finishOvfw(p);
        QVERIFY2(r.exitCode == exitCode && (r.out + r.err).contains(said), qPrintable(r.out + r.err));
        QCOMPARE(localWaiting(history), exitCode == 0 ? 0 : 300);
        QCOMPARE(serverRevisions().size(), exitCode == 0 ? 300 : 0);
        if (exitCode == 0)
            QVERIFY2(took.elapsed() > kPushDeadlineSeconds * 1000, "the backlog took no more than one deadline");
        else
            QVERIFY(took.elapsed() < (kPushDeadlineSeconds + kEndSlackSeconds) * 1000);
    }

    // A server that takes the connection and never answers holds up neither
    // the meter nor, beyond the push's deadline, the command.
    void anUnansweringServerHoldsNothingUp()
    {
        QTemporaryDir silent;
        const SilentListener listener(silent.filePath(QStringLiteral(".s.PGSQL.5432")));
        QVERIFY(listener.listening());
        const HexFiles::Made made = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), 1024);
        MeterEmulatorProcess meter;
        QVERIFY(meter.started());
        const QString history = dir_.filePath(QStringLiteral("silent.sqlite"));
        QProcessEnvironment e = env(history);
        e.insert(QString::fromLatin1(RecordsServerAddress::kEnvironmentVariable),
                 QStringLiteral("postgresql:///records?host=%1&user=nobody").arg(silent.path()));
        e.insert(QString::fromLatin1(PortMap::kEnvironmentVariable), meter.portEntry(1));
        QProcess p;
        startOvfw(p, {QStringLiteral("upgrade"), made.path, QStringLiteral("--yes"), QStringLiteral("--port"),
                      QStringLiteral("1")},
                  e);
        QVERIFY(QTest::qWaitFor([&] { return p.peek(1 << 16).contains("upgrade complete"); }, 120000));
        QElapsedTimer sinceSummary;
        sinceSummary.start();
        const OvfwRun r = finishOvfw(p);
        const double seconds = sinceSummary.elapsed() / 1000.0;
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        QVERIFY2(seconds <= kPushDeadlineSeconds + kEndSlackSeconds, qPrintable(QString::number(seconds)));
        QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(r.err.contains(QStringLiteral("cannot reach the records server")), qPrintable(r.err));
        QCOMPARE(localWaiting(history), 1);
        // The row goes later, to a server that answers.
        QCOMPARE(push(history).exitCode, 0);
        QCOMPARE(serverRevisions(), localRevisions(history));
    }

    // A station pushes each result as it comes, from its profile's
    // [records] server, without waiting for its minute; the rest at its stop.
    void aStationPushesEachResult()
    {
        const HexFiles::Made made = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), 1024);
        MeterEmulatorProcess meter({QStringLiteral("--no-pacing"), QStringLiteral("--restart-into"), QStringLiteral("2.11")});
        QVERIFY(meter.started());
        const QString profile = HexFiles::write(
            dir_.path(), QStringLiteral("station.toml"),
            QStringLiteral("[station]\nname = \"line3\"\n[sockets]\nA = \"%1\"\n[records]\nserver = \"%2\"\n"
                           "[models.3A]\nfile = \"%3\"\nsha256 = \"%4\"\n")
                .arg(meter.device(), server_.url(), made.path, FileFacts::sha256Of(made.path))
                .toUtf8());
        const QString history = dir_.filePath(QStringLiteral("station.sqlite"));
        QProcess station;
        startOvfw(station, {QStringLiteral("station"), profile, QStringLiteral("--yes")}, env(history));
        QSqlDatabase db = server_.connect();
        QVERIFY(QTest::qWaitFor(
            [&] {
                QSqlQuery q(db);
                return q.exec(QStringLiteral("SELECT 1 FROM ovfw_attempts WHERE station = 'line3' AND outcome = "
                                             "'completed' AND verified")) &&
                       q.next();
            },
            30000));
        ::kill(static_cast<pid_t>(station.processId()), SIGTERM);
        const OvfwRun r = finishOvfw(station);
        QVERIFY2(r.exitCode == 0 && r.err.isEmpty(), qPrintable(r.out + r.err));
        QCOMPARE(serverRevisions(), localRevisions(history));
    }

    void refusesAPasswordInTheAddress()
    {
        const QString history = dir_.filePath(QStringLiteral("password.sqlite"));
        makeHistory(history, 2, QStringLiteral("line1"));
        const OvfwRun r = push(history, QStringLiteral("postgresql://%1:%2@/records?host=%3")
                                            .arg(QString::fromLatin1(PostgresServer::kAdmin),
                                                 QString::fromLatin1(PostgresServer::kPassword), server_.socketDir()));
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("carries a password")) && r.err.contains(QStringLiteral("~/.pgpass")),
                 qPrintable(r.err));
        QVERIFY(serverRevisions().isEmpty());
    }

    // The server read as the local history is, across two stations.
    void readsAcrossStations_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("rows");
        QTest::newRow("all, newest first") << QStringList{QStringLiteral("--limit"), QStringLiteral("1000")} << 50;
        QTest::newRow("one station") << QStringList{QStringLiteral("--station"), QStringLiteral("line2"),
                                                    QStringLiteral("--limit"), QStringLiteral("1000")}
                                     << 20;
        QTest::newRow("a socket of it") << QStringList{QStringLiteral("--station"), QStringLiteral("line2"),
                                                       QStringLiteral("--socket"), QStringLiteral("S1")}
                                        << 5;
        QTest::newRow("one meter") << QStringList{QStringLiteral("--serial"), QStringLiteral("OV3A00003")} << 2;
        QTest::newRow("failed, running elsewhere left out")
            << QStringList{QStringLiteral("--failed"), QStringLiteral("--limit"), QStringLiteral("1000")} << 10 + 6;
        QTest::newRow("since a day") << QStringList{QStringLiteral("--since"), QStringLiteral("2026-12-07T00:00:00Z"),
                                                    QStringLiteral("--limit"), QStringLiteral("1000")}
                                     << 4 + 2;
        QTest::newRow("limit") << QStringList{QStringLiteral("--limit"), QStringLiteral("3")} << 3;
    }
    void readsAcrossStations()
    {
        QFETCH(QStringList, args);
        QFETCH(int, rows);
        const QString a = dir_.filePath(QStringLiteral("read-a.sqlite"));
        const QString b = dir_.filePath(QStringLiteral("read-b.sqlite"));
        if (!QFile::exists(a)) {
            QVERIFY(server_.admin(QStringLiteral("TRUNCATE ovfw_attempts")));
            makeHistory(a, 30, QStringLiteral("line1"));
            makeHistory(b, 20, QStringLiteral("line2"), 2);
            QCOMPARE(push(a).exitCode, 0);
            QCOMPARE(push(b).exitCode, 0);
        }
        const QStringList base = QStringList{QStringLiteral("history"), QStringLiteral("--server"), server_.url()} + args;
        for (const QString &form : {QStringLiteral("--json"), QStringLiteral("--csv")}) {
            QProcess p;
            startOvfw(p, base + QStringList{form}, server_.environment(ovfwEnvironment({})));
            const OvfwRun r = finishOvfw(p);
            QVERIFY2(r.exitCode == 0, qPrintable(r.err));
            const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), rows + (form == QLatin1String("--csv") ? 1 : 0));
            if (form == QLatin1String("--json") && rows > 1) {
                const QString first = QJsonDocument::fromJson(lines.first().toUtf8()).object().value("started").toString();
                const QString last = QJsonDocument::fromJson(lines.last().toUtf8()).object().value("started").toString();
                QVERIFY(first >= last);
            }
            // Rows of one station stand in the order its own history lists them.
            if (form == QLatin1String("--csv") && args.contains(QStringLiteral("line2"))) {
                QProcess local;
                startOvfw(local, QStringList{QStringLiteral("history"), form} + args, ovfwEnvironment({}, b));
                const OvfwRun l = finishOvfw(local);
                QCOMPARE(uuidsOf(l.out), uuidsOf(r.out));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestRecordsServer)
#include "tst_records_server.moc"
