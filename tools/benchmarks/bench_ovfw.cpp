// Measures ovfw on a bench of emulated meters pacing their bytes at 9600
// baud: the total time of one meter alone against sixteen at once, and the
// processor time ovfw takes for the whole batch.
// Run by hand: ./build/tools/benchmarks/ovfw_bench_ovfw [--kib N] [--meters M]
#include "BenchSupport.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kRecordBytes = 32;
constexpr qint64 kDefaultKiB = 8;
constexpr int kDefaultMeters = 16;

double childrenCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_CHILDREN, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

struct Batch {
    double seconds = 0;
    double cpuSeconds = 0;
    int exitCode = -1;
};

// ovfw upgrades `count` meters in normal mode, each on its own emulator.
Batch upgradeBatch(const QString &file, int count)
{
    std::vector<std::unique_ptr<QProcess>> meters;
    QStringList ports, args{QStringLiteral("upgrade"), file, QStringLiteral("--yes")};
    for (int n = 1; n <= count; ++n) {
        meters.push_back(std::make_unique<QProcess>());
        const QString device = BenchSupport::startEmulator(*meters.back(), {});
        ports << QStringLiteral("%1=%2").arg(n).arg(device);
        args << QStringLiteral("--port") << QString::number(n);
    }
    QProcess ovfw;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OVFW_PORTS"), ports.join(QLatin1Char(',')));
    ovfw.setProcessEnvironment(env);
    ovfw.setStandardOutputFile(QProcess::nullDevice());
    Batch b;
    const double cpu0 = childrenCpuSeconds(), t0 = MonotonicClock::now();
    ovfw.start(QStringLiteral(OV_OVFW_PATH), args);
    ovfw.waitForFinished(-1);
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
    const QStringList args = QCoreApplication::arguments();
    const qint64 kib = args.contains("--kib") ? args.value(args.indexOf("--kib") + 1).toLongLong() : kDefaultKiB;
    const int count =
        args.contains("--meters") ? args.value(args.indexOf("--meters") + 1).toInt() : kDefaultMeters;
    QTemporaryDir dir;
    const QString file = BenchSupport::makeHexFile(dir.path(), "OV3A_FW0211.OVH", kib * 1024, kRecordBytes);

    const Batch one = upgradeBatch(file, 1);
    std::printf("one meter, %lld KiB at 9600 baud: %.3f s (exit %d), ovfw %.3f s of CPU = %.2f %% of one core\n",
                static_cast<long long>(kib), one.seconds, one.exitCode, one.cpuSeconds, 100.0 * one.cpuSeconds / one.seconds);
    const Batch many = upgradeBatch(file, count);
    std::printf("%d meters at once: %.3f s (exit %d) = %+.2f %% against one alone; ovfw %.3f s of CPU = %.2f %% "
                "of one core\n",
                count, many.seconds, many.exitCode, 100.0 * (many.seconds - one.seconds) / one.seconds,
                many.cpuSeconds, 100.0 * many.cpuSeconds / many.seconds);
    return 0;
}
