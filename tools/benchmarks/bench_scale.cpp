// ovfw on a bench of many more meters than sixteen, named by --device, each
// emulator pacing its bytes at 9600 baud: wall time of all of them against
// one alone, ovfw's processor time (in all and per line), its peak memory,
// threads and descriptors, each against its target where it has one. The
// many-meter batch runs --runs times (3 unless told) and is judged by its
// median run by processor share: one run on a shared machine swings by a
// fifth either way.
// Run by hand: ./build/tools/benchmarks/ovfw_bench_scale [--meters 64] [--kib 8] [--runs 3]
#include "BenchSupport.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kRecordBytes = 32;
constexpr int kSampleMs = 200;
// Targets: processor time per line, the share of one core that paced meters
// may take (5 % for up to 64 of them, 10 % for up to 128), and the wall time
// of many meters against one.
constexpr double kMostLineMicros = 60;
struct CoreShareTarget {
    int meters;
    double mostPercent;
};
constexpr CoreShareTarget kCoreShareTargets[] = {{64, 5}, {128, 10}};
constexpr double kMostWallRatio = 1.05;

// The target for this many meters; none beyond the largest.
const CoreShareTarget *coreShareTargetFor(int meters)
{
    for (const CoreShareTarget &t : kCoreShareTargets)
        if (meters <= t.meters)
            return &t;
    return nullptr;
}

double childrenCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

long childrenPeakKiB()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru.ru_maxrss;
}

int statusValue(qint64 pid, const char *field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toInt();
    return -1;
}

struct Batch {
    double seconds = 0, cpuSeconds = 0;
    int exitCode = -1, peakThreads = 0, peakDescriptors = 0;
};

Batch upgradeBatch(const QString &file, int count)
{
    std::vector<std::unique_ptr<QProcess>> meters;
    QStringList args{QStringLiteral("upgrade"), file, QStringLiteral("--yes")};
    for (int n = 0; n < count; ++n) {
        meters.push_back(std::make_unique<QProcess>());
        args << QStringLiteral("--device") << BenchSupport::startEmulator(*meters.back(), {});
    }
    QProcess ovfw;
    ovfw.setStandardOutputFile(QProcess::nullDevice());
    Batch b;
    const double cpu0 = childrenCpuSeconds(), t0 = MonotonicClock::now();
    ovfw.start(QStringLiteral(OV_OVFW_PATH), args);
    ovfw.waitForStarted();
    const qint64 pid = ovfw.processId();
    while (!ovfw.waitForFinished(kSampleMs)) {
        b.peakThreads = qMax(b.peakThreads, statusValue(pid, "Threads:"));
        b.peakDescriptors =
            qMax(b.peakDescriptors, static_cast<int>(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).count()) - 2);
    }
    b.seconds = MonotonicClock::now() - t0;
    b.cpuSeconds = childrenCpuSeconds() - cpu0;  // ovfw alone: the emulators still run
    b.exitCode = ovfw.exitCode();
    for (auto &m : meters)
        BenchSupport::stopEmulator(*m);
    return b;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int meters = 64, kib = 8, runs = 3;
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--meters")) meters = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--kib")) kib = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--runs")) runs = std::max(1, a[i + 1].toInt());
    }
    QTemporaryDir dir;
    const QString file = BenchSupport::makeHexFile(dir.path(), QStringLiteral("OV3A_FW0211.OVH"),
                                                   qint64(kib) * 1024, kRecordBytes);
    if (file.isEmpty())
        return 1;
    const Batch one = upgradeBatch(file, 1);
    const long onePeak = childrenPeakKiB();
    std::vector<Batch> batches;
    batches.reserve(static_cast<std::size_t>(runs));
    for (int run = 0; run < runs; ++run)
        batches.push_back(upgradeBatch(file, meters));
    std::printf("paced %d KiB file, --device per meter\n", kib);
    std::printf("%-7s %7s %9s %8s %8s %8s %5s\n", "meters", "wall s", "cpu s", "cpu %", "threads", "fds", "exit");
    std::vector<std::pair<int, Batch>> rows{{1, one}};
    for (const Batch &b : batches)
        rows.emplace_back(meters, b);
    for (const auto &[n, b] : rows)
        std::printf("%-7d %7.1f %9.2f %7.2f%% %8d %8d %5d\n", n, b.seconds, b.cpuSeconds,
                    100 * b.cpuSeconds / b.seconds, b.peakThreads, b.peakDescriptors, b.exitCode);
    const auto share = [](const Batch &b) { return b.cpuSeconds / b.seconds; };
    std::sort(batches.begin(), batches.end(), [&](const Batch &x, const Batch &y) { return share(x) < share(y); });
    const Batch &many = batches[batches.size() / 2];
    if (runs > 1)
        std::printf("judged by the median of %d runs of %d meters: %.2f%%\n", runs, meters, 100 * share(many));
    QFile hex(file);
    const qint64 lines = hex.open(QIODevice::ReadOnly) ? hex.readAll().count('\n') : 0;
    const double lineMicros = lines > 0 ? 1e6 * many.cpuSeconds / (double(lines) * meters) : 0;
    const double coreShare = 100 * many.cpuSeconds / many.seconds;
    const double wallRatio = many.seconds / one.seconds;
    const auto verdict = [](bool met) { return met ? "pass" : "MISS"; };
    std::printf("processor time per line: %.0f us (%lld lines x %d meters; target <= %.0f us: %s)\n", lineMicros,
                static_cast<long long>(lines), meters, kMostLineMicros, verdict(lineMicros <= kMostLineMicros));
    if (const CoreShareTarget *target = coreShareTargetFor(meters))
        std::printf("share of one core, %d meters: %.2f %% (target <= %.0f %% for up to %d meters: %s)\n", meters,
                    coreShare, target->mostPercent, target->meters, verdict(coreShare <= target->mostPercent));
    else
        std::printf("share of one core, %d meters: %.2f %% (no target beyond %d meters)\n", meters, coreShare,
                    std::prev(std::end(kCoreShareTargets))->meters);
    std::printf("wall time %d meters / 1 meter: %.3f (target <= %.2f: %s)\n", meters, wallRatio, kMostWallRatio,
                verdict(wallRatio <= kMostWallRatio));
    std::printf("descriptors of ovfw at most: %d meters %d\n", meters, many.peakDescriptors);
    std::printf("peak resident memory of ovfw: 1 meter <= %ld KiB, %d meters %ld KiB\n", onePeak, meters,
                childrenPeakKiB());
    for (const Batch &b : batches)
        if (b.exitCode != 0)
            return b.exitCode;
    return 0;
}
