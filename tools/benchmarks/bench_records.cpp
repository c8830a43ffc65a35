// The records server's costs, run by hand, against a PostgreSQL 15 server
// the benchmark starts in a temporary folder (as the tests do):
//  1. `ovfw history push` of 10,000 local rows to an empty table: wall time
//     of the whole command, several runs, each from an empty server table;
//     and once of a backlog of 100,000 rows, which must go in one run;
//  2. `ovfw upgrade` of one meter with no records server, and with one that
//     takes connections and never answers: the meter's own time (its JSON
//     result's seconds) and the time from the summary to the command's end.
#include "BenchSupport.h"
#include "PostgresServer.h"
#include "SilentListener.h"
#include "history/HistoryStore.h"
#include "records/RecordsServerAddress.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <algorithm>
#include <cstdio>

namespace {
constexpr int kRows = 10000;
constexpr int kPushRuns = 5;
constexpr int kBacklogRows = 100000;  // a bench that was offline for long
constexpr int kUpgradeRuns = 3;
constexpr int kWaitMs = 600000;

void makeRows(const QString &path, int rows)
{
    HistoryStore store(HistoryStore::Access::Write, path);
    QSqlQuery(store.database()).exec(QStringLiteral("BEGIN"));
    for (int i = 0; i < rows; ++i) {
        AttemptRecord r;
        r.startedUtc = HistoryStore::nowUtc();
        r.host = QStringLiteral("bench-host");
        r.face = QStringLiteral("ovfw");
        r.station = QStringLiteral("line2-bench4");
        r.socket = QStringLiteral("S%1").arg(i % 16);
        r.serial = QStringLiteral("OV3A%1").arg(i, 5, 10, QLatin1Char('0'));
        r.model = QStringLiteral("3A");
        r.filePath = QStringLiteral("/srv/firmware/OV3A_FW0211.OVH");
        r.fileSha256 = QString(64, QLatin1Char('a'));
        r.linesTotal = 1026;
        r.id = store.insert(r);
        r.endedUtc = r.startedUtc;
        r.outcome = HistoryOutcome::Completed;
        r.linesSent = r.linesTotal;
        store.complete(r);
    }
    QSqlQuery(store.database()).exec(QStringLiteral("COMMIT"));
}

QProcessEnvironment environment(const PostgresServer &server, const QString &history)
{
    QProcessEnvironment env = server.environment();
    env.insert(QStringLiteral("OVFW_HISTORY"), history);
    env.remove(QString::fromLatin1(RecordsServerAddress::kEnvironmentVariable));
    return env;
}

double ovfwSeconds(const QStringList &args, const QProcessEnvironment &env, QString *out = nullptr)
{
    QProcess p;
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral(OV_OVFW_PATH), args);
    p.waitForFinished(kWaitMs);
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitCode() == 0 ? t.nsecsElapsed() / 1e9 : -1;
}

void pushTime(PostgresServer &server, const QString &dir, int rows, int runs)
{
    const QString history = dir + QStringLiteral("/push-%1.sqlite").arg(rows);
    makeRows(history, rows);
    QList<double> seconds;
    for (int i = 0; i < runs; ++i) {
        server.admin(QStringLiteral("TRUNCATE ovfw_attempts"));
        {
            HistoryStore store(HistoryStore::Access::Write, history);
            QSqlQuery(store.database()).exec(QStringLiteral("UPDATE attempts SET pushed_revision = 0"));
        }
        seconds << ovfwSeconds({QStringLiteral("history"), QStringLiteral("push"), QStringLiteral("--server"), server.url()},
                               environment(server, history));
    }
    // -1: the push did not end with every row in (exit status not 0).
    std::printf("ovfw history push, %d rows to an empty table, in one run: median %.2f s, worst %.2f s over %d "
                "run(s)\n",
                rows, BenchSupport::median(seconds), *std::max_element(seconds.begin(), seconds.end()), runs);
}

// One upgrade: the meter's seconds, and the seconds from the summary to the end.
void upgradeOnce(const QString &file, QProcessEnvironment env, double &meterSeconds, double &afterSummary)
{
    QProcess emulator;
    const QString device = BenchSupport::startEmulator(emulator, {QStringLiteral("--no-pacing")});
    env.insert(QStringLiteral("OVFW_PORTS"), QStringLiteral("1=") + device);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(OV_OVFW_PATH), {QStringLiteral("upgrade"), file, QStringLiteral("--yes"),
                                           QStringLiteral("--port"), QStringLiteral("1"), QStringLiteral("--json")});
    QElapsedTimer sinceSummary;
    QByteArray out;
    while (p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(kWaitMs);
        out += p.readAllStandardOutput();
        if (!sinceSummary.isValid() && out.contains("\"event\":\"summary\""))
            sinceSummary.start();
    }
    out += p.readAllStandardOutput();
    afterSummary = sinceSummary.isValid() ? sinceSummary.nsecsElapsed() / 1e9 : -1;
    meterSeconds = -1;
    for (const QByteArray &line : out.split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("event")).toString() == QLatin1String("result"))
            meterSeconds = o.value(QStringLiteral("seconds")).toDouble();
    }
    BenchSupport::stopEmulator(emulator);
}

void unansweringServer(PostgresServer &server, const QString &dir)
{
    const QString file = BenchSupport::makeHexFile(dir, QStringLiteral("OV3A_FW0211.OVH"), 32 * 1024, 32);
    const QString silentDir = dir + QStringLiteral("/silent");
    QDir().mkpath(silentDir);
    const SilentListener listener(silentDir + QStringLiteral("/.s.PGSQL.5432"));
    for (const bool silent : {false, true}) {
        QList<double> meter, tail;
        for (int i = 0; i < kUpgradeRuns; ++i) {
            QProcessEnvironment env = environment(server, dir + QStringLiteral("/upgrade.sqlite"));
            if (silent)
                env.insert(QString::fromLatin1(RecordsServerAddress::kEnvironmentVariable),
                           QStringLiteral("postgresql:///records?host=%1&user=bench").arg(silentDir));
            double m = 0, t = 0;
            upgradeOnce(file, env, m, t);
            meter << m;
            tail << t;
        }
        std::printf("ovfw upgrade, one meter, 32 KiB file, %s: the meter's time median %.2f s; summary to end "
                    "median %.2f s, worst %.2f s (%d runs)\n",
                    silent ? "a records server that never answers" : "no records server", BenchSupport::median(meter),
                    BenchSupport::median(tail), *std::max_element(tail.begin(), tail.end()), kUpgradeRuns);
    }
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PostgresServer server;
    if (!server.ready()) {
        std::fprintf(stderr, "no PostgreSQL server: %s\n", qPrintable(server.log()));
        return 1;
    }
    QTemporaryDir dir;
    if (ovfwSeconds({QStringLiteral("history"), QStringLiteral("init-server"), server.url()},
                    environment(server, dir.filePath(QStringLiteral("none.sqlite")))) < 0) {
        std::fprintf(stderr, "init-server failed\n");
        return 1;
    }
    pushTime(server, dir.path(), kRows, kPushRuns);  // goal: <= 2 s
    pushTime(server, dir.path(), kBacklogRows, 1);
    unansweringServer(server, dir.path());
    return 0;
}
