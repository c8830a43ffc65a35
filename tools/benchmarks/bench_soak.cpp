// A soak of ovfw on bad lines, unpaced: rounds of meters at one bit-error
// rate, some of them restarting mid-file, losing acknowledgements or
// answering some lines past their window (a page erase), and for
// each upgrade whether ovfw's word holds. An image that differs from what
// srec_cat reads from the file although ovfw reported it completed is the
// meter's fault when the emulator accepted a record the noise had changed
// (its checksum still held), and the tool's otherwise: that count must be 0.
// Run by hand:
//   ./build/tools/benchmarks/ovfw_bench_soak [--meters 8] [--rounds 25] [--kib 32]
//       [--rates 1e-6,1e-5,1e-4] [--seed 1]
#include "BenchSupport.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int kRecordBytes = 32;
constexpr int kRestartingEvery = 4;  // meter 0 of every four restarts mid-file
constexpr int kDroppingEvery = 4;    // meter 1 of every four loses acknowledgements
constexpr int kDropReplyEvery = 97;
constexpr int kSlowEvery = 4;        // meter 2 of every four answers some lines late
constexpr int kSlowLineMinMs = 250;  // how late: around the 0.3 s window, up to past it
constexpr int kSlowLineMaxMs = 900;
constexpr int kSlowLineMinEvery = 7;
constexpr int kSlowLineMaxEvery = 40;
constexpr int kSeedsPerRound = 1000;
constexpr int kSeedsPerRate = 100000;

struct Tally {
    int upgrades = 0, completed = 0, failedWithReport = 0, failedSilently = 0;
    int differToolCaused = 0, differLetThrough = 0, restarts = 0, retries = 0;
    QMap<QString, int> reasons;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int statValue(const QByteArray &stats, const char *name)
{
    for (const QByteArray &line : stats.split('\n'))
        if (line.startsWith(QByteArray(name) + ' '))
            return line.mid(qstrlen(name) + 1).toInt();
    return 0;
}

QString reasonOf(const QString &message)
{
    // The message without its numbers, to group the failures.
    QString r = message;
    r.replace(QRegularExpression(QStringLiteral("[0-9]+")), QStringLiteral("N"));
    return r;
}

void round(const QString &file, const QByteArray &expected, const QString &work, double rate, int meters,
           quint64 seed, int lines, Tally &t)
{
    std::vector<std::unique_ptr<QProcess>> emulators;
    QStringList args{QStringLiteral("upgrade"), file, QStringLiteral("--yes"), QStringLiteral("--json")};
    QStringList devices;
    QRandomGenerator pick(static_cast<quint32>(seed));
    for (int i = 0; i < meters; ++i) {
        const QString dir = QDir(work).filePath(QStringLiteral("m%1").arg(i));
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        QStringList e{QStringLiteral("--no-pacing"), QStringLiteral("--seed"), QString::number(seed + i),
                      QStringLiteral("--image"), dir + QStringLiteral("/image.bin"), QStringLiteral("--stats"),
                      dir + QStringLiteral("/stats.txt")};
        if (rate > 0)
            e << QStringLiteral("--noise") << QString::number(rate);
        if (i % kRestartingEvery == 0)
            e << QStringLiteral("--reset-at") << QString::number(1 + pick.bounded(lines - 1));
        if (i % kDroppingEvery == 1)
            e << QStringLiteral("--drop-reply-every") << QString::number(kDropReplyEvery);
        if (i % kSlowEvery == 2)
            e << QStringLiteral("--slow-lines")
              << QStringLiteral("%1:%2")
                     .arg(pick.bounded(kSlowLineMinEvery, kSlowLineMaxEvery + 1))
                     .arg(pick.bounded(kSlowLineMinMs, kSlowLineMaxMs + 1));
        emulators.push_back(std::make_unique<QProcess>());
        const QString device = BenchSupport::startEmulator(*emulators.back(), e);
        devices << device;
        args << QStringLiteral("--device") << device;
    }
    QProcess ovfw;
    ovfw.start(QStringLiteral(OV_OVFW_PATH), args);
    ovfw.waitForFinished(-1);
    QMap<QString, QJsonObject> results;
    for (const QByteArray &line : ovfw.readAllStandardOutput().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.value(QStringLiteral("event")).toString() == QLatin1String("result"))
            results.insert(o.value(QStringLiteral("device")).toString(), o);
    }
    for (auto &e : emulators)
        BenchSupport::stopEmulator(*e);  // writes its stats
    for (int i = 0; i < meters; ++i) {
        const QString dir = QDir(work).filePath(QStringLiteral("m%1").arg(i));
        const QJsonObject r = results.value(devices[i]);
        const QByteArray stats = readFile(dir + QStringLiteral("/stats.txt"));
        ++t.upgrades;
        t.restarts += statValue(stats, "resets");
        t.retries += r.value(QStringLiteral("retries")).toInt();
        const QString message = r.value(QStringLiteral("message")).toString();
        if (r.value(QStringLiteral("result")).toString() == QLatin1String("completed")) {
            ++t.completed;
            if (readFile(dir + QStringLiteral("/image.bin")) != expected) {
                if (statValue(stats, "let_through_in_image") > 0)
                    ++t.differLetThrough;
                else {
                    ++t.differToolCaused;
                    std::printf("  TOOL-CAUSED difference: seed %llu meter %d\n",
                                static_cast<unsigned long long>(seed + i), i);
                }
            }
        } else if (!message.isEmpty()) {
            ++t.failedWithReport;
            ++t.reasons[reasonOf(message)];
        } else {
            ++t.failedSilently;
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int meters = 8, rounds = 25, kib = 32;
    quint64 seed = 1;
    QStringList rates{QStringLiteral("1e-6"), QStringLiteral("1e-5"), QStringLiteral("1e-4")};
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--meters")) meters = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--rounds")) rounds = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--kib")) kib = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--rates")) rates = a[i + 1].split(QLatin1Char(','));
        else if (a[i] == QLatin1String("--seed")) seed = a[i + 1].toULongLong();
    }
    QTemporaryDir work;
    const QString file = BenchSupport::makeHexFile(work.path(), QStringLiteral("OV3A_FW0211.OVH"),
                                                   qint64(kib) * 1024, kRecordBytes);
    const QString expectedPath = work.filePath(QStringLiteral("expected.bin"));
    QProcess srec;
    srec.start(QStringLiteral("srec_cat"), {file, QStringLiteral("-intel"), QStringLiteral("-o"), expectedPath,
                                            QStringLiteral("-binary")});
    srec.waitForFinished(-1);
    const QByteArray expected = readFile(expectedPath);
    const int lines = static_cast<int>(readFile(file).count('\n'));
    if (file.isEmpty() || expected.isEmpty()) {
        std::fprintf(stderr, "srec_cat made no file\n");
        return 1;
    }
    std::printf("soak: %d meters x %d rounds of a %d KiB file (%d lines), unpaced, base seed %llu\n", meters,
                rounds, kib, lines, static_cast<unsigned long long>(seed));
    std::printf("every %dth meter restarts at a random line, every %dth (offset 1) loses every %dth acknowledgement,\n"
                "every %dth (offset 2) answers every %d-%dth line %d-%d ms late\n",
                kRestartingEvery, kDroppingEvery, kDropReplyEvery, kSlowEvery, kSlowLineMinEvery, kSlowLineMaxEvery,
                kSlowLineMinMs, kSlowLineMaxMs);
    std::printf("%-8s %8s %9s %9s %9s %11s %11s %9s %8s %6s\n", "rate", "upgrades", "completed", "failed+rep",
                "failed-", "differ:tool", "differ:line", "restarts", "retries", "min");
    for (int r = 0; r < rates.size(); ++r) {
        Tally t;
        const double t0 = MonotonicClock::now();
        for (int n = 0; n < rounds; ++n)
            round(file, expected, work.path(), rates[r].toDouble(), meters,
                  seed + quint64(r) * kSeedsPerRate + quint64(n) * kSeedsPerRound, lines, t);
        std::printf("%-8s %8d %9d %9d %9d %11d %11d %9d %8d %6.1f\n", qPrintable(rates[r]), t.upgrades, t.completed,
                    t.failedWithReport, t.failedSilently, t.differToolCaused, t.differLetThrough, t.restarts,
                    t.retries, (MonotonicClock::now() - t0) / 60);
        for (auto it = t.reasons.cbegin(); it != t.reasons.cend(); ++it)
            std::printf("    failed %4d x  %s\n", it.value(), qPrintable(it.key()));
        std::fflush(stdout);
    }
    return 0;
}
