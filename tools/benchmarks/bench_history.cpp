// The upgrade history's costs, run by hand:
//  1. what recording one upgrade costs: the store opened, the started row
//     written and completed, as each upgrade does (the file's digest apart);
//  2. ovfw upgrade's wall time with the history and with none, one meter on
//     the emulator, runs taken in turn;
//  3. `ovfw history` over 100,000 rows printing the newest 50, and listing
//     all of them as CSV and JSON: time to the first byte, the whole run and
//     the peak memory (GNU time).
// `--listing` measures the third alone.
#include "BenchSupport.h"
#include "upgrade/AttemptRecorder.h"
#include "history/HistoryStore.h"
#include "history/ProcessIdentity.h"
#include "link/MeterState.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeRun.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace {
constexpr int kRecordings = 300;
constexpr int kUpgradeRuns = 5;
constexpr int kRows = 100000;
constexpr int kHistoryRuns = 7;

void recordingCost(const QString &dir, const QString &file, bool anotherOpen)
{
    const QString path = dir + (anotherOpen ? "/recording-shared.sqlite" : "/recording.sqlite");
    qputenv("OVFW_HISTORY", path.toLocal8Bit());
    // Another connection open (another meter's thread, another process) spares
    // the last one's checkpoint on closing.
    std::unique_ptr<HistoryStore> other;
    if (anotherOpen)
        other = std::make_unique<HistoryStore>(HistoryStore::Access::Write, path);
    MeterState meter;
    meter.Port_Number = 1;
    meter.Model_Code = "3A";
    meter.Meter_Serial = "OV3A01234";
    const FileFacts facts = UpgradeImage(file, UpgradeImage::Keep::NoCopy).facts();
    QList<double> ms;
    for (int i = 0; i < kRecordings; ++i) {
        QElapsedTimer t;
        t.start();
        AttemptRecorder recorder("ovfw", MeterAddress::port(1, QStringLiteral("/dev/ttyUSB0")));
        recorder.setFile(facts);
        recorder.started(meter, file);
        UpgradeResult result;
        result.outcome = UpgradeOutcome::Completed;
        recorder.finished(meter, result, file);
        ms << t.nsecsElapsed() / 1e6;
    }
    QElapsedTimer t;
    t.start();
    const FileFacts once = UpgradeImage(file).facts();
    static_cast<void>(once);
    std::printf("recording one upgrade (open, insert, complete, close)%s: median %.2f ms, max %.2f ms over %d\n",
                anotherOpen ? ", another connection open" : ", the only connection", BenchSupport::median(ms),
                *std::max_element(ms.begin(), ms.end()), kRecordings);
    std::printf("the file's image (read, checked, copied; its SHA-256 and lines) of a 100 KiB file, once per run: %.2f ms\n",
                t.nsecsElapsed() / 1e6);
}

double ovfwUpgradeSeconds(const QString &file, const QString &history)
{
    QProcess emulator;
    const QString device = BenchSupport::startEmulator(emulator, {"--no-pacing", "--reply-delay", "0"});
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("OVFW_PORTS", "1=" + device);
    env.insert("OVFW_HISTORY", history);
    p.setProcessEnvironment(env);
    QElapsedTimer t;
    t.start();
    p.start(OV_OVFW_PATH, {"upgrade", file, "--yes", "--port", "1"});
    p.waitForFinished(-1);
    const double s = t.nsecsElapsed() / 1e9;
    BenchSupport::stopEmulator(emulator);
    return p.exitCode() == 0 ? s : -1;
}

void upgradeWallTime(const QString &dir, const QString &file)
{
    QList<double> with, without;
    for (int i = 0; i < kUpgradeRuns; ++i) {
        with << ovfwUpgradeSeconds(file, dir + "/wall.sqlite");
        without << ovfwUpgradeSeconds(file, "/proc/no-history/history.sqlite");  // cannot be made: no store
    }
    std::printf("ovfw upgrade, one meter, 100 KiB file: median %.3f s with the history, %.3f s without "
                "(difference %.1f ms; %d runs each, in turn)\n",
                BenchSupport::median(with), BenchSupport::median(without), (BenchSupport::median(with) - BenchSupport::median(without)) * 1000, kUpgradeRuns);
}

// ovfw's environment, recording into the history at `path`.
QProcessEnvironment withHistory(const QString &path)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("OVFW_HISTORY", path);
    return env;
}

// One `ovfw ARGS` through GNU time, its output read as it comes and dropped.
void listingTime(const QString &path, const QStringList &args)
{
    const QString peakFile = QDir::temp().filePath(QStringLiteral("ovfw-bench-history-peak"));
    QProcess p;
    p.setProcessEnvironment(withHistory(path));
    QElapsedTimer t;
    t.start();
    p.start("/usr/bin/time", QStringList{"-f", "%M", "-o", peakFile, OV_OVFW_PATH} + args);
    double firstByteMs = -1;
    qint64 bytes = 0;
    while (p.state() != QProcess::NotRunning || p.bytesAvailable() > 0) {
        p.waitForReadyRead(5);
        const qint64 n = p.readAllStandardOutput().size();
        if (n > 0 && firstByteMs < 0)
            firstByteMs = t.nsecsElapsed() / 1e6;
        bytes += n;
    }
    const double totalMs = t.nsecsElapsed() / 1e6;
    QFile peak(peakFile);
    const long peakKiB = peak.open(QIODevice::ReadOnly) ? peak.readAll().trimmed().split('\n').last().toLong() : -1;
    std::printf("ovfw %s over %d rows: first byte after %.0f ms, all %.1f MB after %.0f ms, peak memory %.1f MB\n",
                qPrintable(args.join(' ')), kRows, firstByteMs, bytes / 1e6, totalMs, peakKiB / 1024.0);
}

void historyQueryTime(const QString &dir, bool listingOnly)
{
    const QString path = dir + "/large.sqlite";
    {
        HistoryStore store(HistoryStore::Access::Write, path);
        QSqlQuery q(store.database());
        q.exec("BEGIN");
        AttemptRecord r;
        const ProcessIdentity &self = ProcessIdentity::current();
        r.host = self.host;
        r.bootId = self.bootId;
        r.face = "ovfw";
        r.model = "3A";
        r.filePath = dir + "/OV3A_FW0211.OVH";
        r.fileSha256 = QString(64, 'a');
        r.targetVersion = "02.11";
        r.outcome = HistoryOutcome::Completed;
        for (int i = 0; i < kRows; ++i) {
            r.startedUtc = r.endedUtc =
                QDateTime::fromSecsSinceEpoch(1700000000 + qint64(i) * 60, Qt::UTC).toString(Qt::ISODateWithMs);
            r.port = 1 + i % 16;
            r.serial = QString("OV3A%1").arg(i % 5000, 5, 10, QChar('0'));
            store.insert(r);
        }
        q.exec("COMMIT");
    }
    const QString limit = QString::number(kRows);
    listingTime(path, {"history", "--csv", "--limit", limit});
    listingTime(path, {"history", "--json", "--limit", limit});
    if (listingOnly)
        return;
    for (const QStringList &args : {QStringList{"history"}, QStringList{"history", "--failed"},
                                    QStringList{"history", "--serial", "OV3A00042"}}) {
        QList<double> ms;
        for (int i = 0; i < kHistoryRuns; ++i) {
            QProcess p;
            p.setProcessEnvironment(withHistory(path));
            QElapsedTimer t;
            t.start();
            p.start(OV_OVFW_PATH, args);
            p.waitForFinished(-1);
            ms << t.nsecsElapsed() / 1e6;
        }
        std::printf("ovfw %s over %d rows: median %.1f ms (whole process), %d runs\n", qPrintable(args.join(' ')),
                    kRows, BenchSupport::median(ms), kHistoryRuns);
    }
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (app.arguments().contains("--listing")) {
        historyQueryTime(dir.path(), true);
        return 0;
    }
    const QString file = BenchSupport::makeHexFile(dir.path(), "OV3A_FW0211.OVH", 100 * 1024, 32);
    if (file.isEmpty())
        return 1;
    recordingCost(dir.path(), file, false);
    recordingCost(dir.path(), file, true);
    upgradeWallTime(dir.path(), file);
    historyQueryTime(dir.path(), false);
    return 0;
}
