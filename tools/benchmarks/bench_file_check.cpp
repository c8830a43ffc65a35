// Measures the upgrade-file check: `ovfw check` on a 1 MiB file against
// srec_cat reading the same file (goal: at most half its time), and the peak
// memory of the check and of the transfer for a 10 MiB file against a
// 100 KiB one (goal: within 2 MiB), and `ovfw check /dev/zero`.
// Run by hand (needs GNU time): ./build/tools/benchmarks/ovfw_bench_file_check [--runs N]
#include "BenchSupport.h"
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

constexpr int kRecordBytes = 32;
constexpr double kHexPerDataByte = 77.0 / 32.0;  // a 32-byte record's line with CR LF
constexpr qint64 kKiB = 1024;

struct Measured {
    double seconds = 0;
    long peakKiB = 0;
    int exitCode = -1;
};

// Runs a program to its end, output discarded; its wall time and peak memory.
Measured runMeasured(const QStringList &command, const QByteArray &ports = {})
{
    // GNU time reports the program's own peak: the rusage of a child spawned
    // from here would also count this process, which it starts as a copy of.
    const QString peakFile = QDir::temp().filePath(QStringLiteral("ovfw-bench-peak"));
    std::vector<QByteArray> bytes{"/usr/bin/time", "-f", "%M", "-o", QFile::encodeName(peakFile)};
    for (const QString &a : command)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    argv.reserve(bytes.size() + 1);
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    if (!ports.isEmpty())
        qputenv("OVFW_PORTS", ports);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Measured m;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int code = 0;
        waitpid(pid, &code, 0);
        QFile peak(peakFile);
        if (peak.open(QIODevice::ReadOnly))
            m.peakKiB = peak.readAll().trimmed().split('\n').last().toLong();  // after any exit-status line
        m.exitCode = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
    }
    m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return m;
}

double bestOf(int runs, const QStringList &command)
{
    double best = 1e9;
    for (int i = 0; i < runs; ++i)
        best = std::min(best, runMeasured(command).seconds);
    return best;
}

QString fileOf(const QString &dir, const QString &name, qint64 fileBytes)
{
    return BenchSupport::makeHexFile(dir, name, static_cast<qint64>(fileBytes / kHexPerDataByte) / 4 * 4,
                                     kRecordBytes);
}

Measured upgrade(const QString &file)
{
    QProcess meter;
    const QString device = BenchSupport::startEmulator(meter, {"--no-pacing", "--reply-delay", "0"});
    const Measured m = runMeasured({QStringLiteral(OV_OVFW_PATH), "upgrade", file, "--yes", "--port", "1"},
                                   QByteArray("1=") + device.toLocal8Bit());
    BenchSupport::stopEmulator(meter);
    return m;
}

}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int runs = args.contains("--runs") ? args.value(args.indexOf("--runs") + 1).toInt() : 5;
    QTemporaryDir dir;
    const QString ovfw = QStringLiteral(OV_OVFW_PATH);

    const QString mib = fileOf(dir.path(), "OV3A_FW0210.OVH", 1024 * kKiB);
    const double check = bestOf(runs, {ovfw, "check", mib});
    const double srec = bestOf(runs, {"srec_cat", mib, "-intel", "-o", "/dev/null", "-intel"});
    std::printf("1 MiB file (%lld bytes), best of %d:\n", static_cast<long long>(QFileInfo(mib).size()), runs);
    std::printf("  ovfw check              %.3f s\n", check);
    std::printf("  srec_cat -o /dev/null   %.3f s\n", srec);
    std::printf("  ratio                   %.2f (goal at most 0.50)\n", check / srec);

    const QString small = fileOf(dir.path(), "OV3A_FW0211.OVH", 100 * kKiB);
    const QString large = fileOf(dir.path(), "OV3A_FW0212.OVH", 10 * 1024 * kKiB);
    const Measured checkSmall = runMeasured({ovfw, "check", small});
    const Measured checkLarge = runMeasured({ovfw, "check", large});
    std::printf("peak memory of the check: 100 KiB file %ld KiB, 10 MiB file %ld KiB (difference %ld KiB, goal "
                "within 2048)\n",
                checkSmall.peakKiB, checkLarge.peakKiB, checkLarge.peakKiB - checkSmall.peakKiB);
    const Measured upSmall = upgrade(small);
    const Measured upLarge = upgrade(large);
    std::printf("peak memory of the transfer: 100 KiB file %ld KiB (exit %d), 10 MiB file %ld KiB (exit %d, %.0f s); "
                "difference %ld KiB, goal within 2048\n",
                upSmall.peakKiB, upSmall.exitCode, upLarge.peakKiB, upLarge.exitCode, upLarge.seconds,
                upLarge.peakKiB - upSmall.peakKiB);
    const Measured zero = runMeasured({ovfw, "check", "/dev/zero"});
    std::printf("ovfw check /dev/zero: %.3f s, exit %d, peak %ld KiB\n", zero.seconds, zero.exitCode, zero.peakKiB);
    return 0;
}
