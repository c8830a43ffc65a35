// Measures the upgrade through the real window against the meter emulator on
// a pseudo-terminal:
//   1. lines per second of the whole transfer path against a meter that
//      answers at once, beside a minimal blocking write / await-PASS loop
//      over the same kind of line;
//   2. the same upgrade with the emulator pacing bytes at 9600 baud: total
//      time against the ideal wire time;
//   3. processor time during that paced transfer;
//   4. peak memory for a 100 KiB and a 10 MiB upgrade file (each in a fresh
//      process, so the figures do not mix).
// Run by hand: ./build/tools/benchmarks/ovfw_bench_upgrade [--paced-kib N]
#include "BenchSupport.h"
#include "app/DocumentOpener.h"
#include "app/frmFwUpMain.h"
#include "base/MonotonicClock.h"
#include "link/QtCommPort.h"
#include "upgrade/UpgradeFile.h"
#include "usb/ChipIdLibrary.h"
#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kRecordBytes = 32;
constexpr qint64 kSpeedDataBytes = 64 * 1024;
constexpr qint64 kDefaultPacedDataKiB = 8;
constexpr double kBitsPerByte = 10;  // start, 8 data, stop
constexpr double kBaud = 9600;
constexpr int kReplyBytes = 5;       // "PASS" CR
const QStringList kInstant{"--boot", "--no-pacing", "--reply-delay", "0"};

struct Upgrade {
    double seconds = 0;
    double cpuSeconds = 0;
    int lines = 0;
    QString outcome;
};

// One whole upgrade through the window's Upgrade button, the meter already
// in its boot loader on port 1.
Upgrade upgradeThroughWindow(const QString &file, const QStringList &emulatorArgs)
{
    QProcess meter;
    const QString device = BenchSupport::startEmulator(meter, emulatorArgs);
    FwUpGlobals g;
    QtCommPort comm(PortMap::fromOverride(QStringLiteral("1=%1").arg(device)));
    BenchSupport::AnsweringPrompts prompts(file);
    const std::unique_ptr<ChipIdLibrary> chipId = systemChipIdLibrary();
    QtDocumentOpener opener;
    frmFwUpMain window(g, {comm, prompts, QString(), *chipId, opener});
    window.show();
    g.Port_Menu_Index = 1;
    window.meter().Port_Number = 1;
    window.meter().Boot_Mode = true;
    window.link().Com_Open();
    window.Meter_Connected = true;

    Upgrade u;
    const double cpu0 = BenchSupport::ownCpuSeconds(), t0 = MonotonicClock::now();
    window.cmdUpgrade_Click();
    u.seconds = MonotonicClock::now() - t0;
    u.cpuSeconds = BenchSupport::ownCpuSeconds() - cpu0;
    u.outcome = prompts.shown.value(prompts.shown.size() - 1);
    UpgradeFile f;
    f.open(file);
    while (!f.atEnd()) {
        f.readLine();
        ++u.lines;
    }
    BenchSupport::stopEmulator(meter);
    return u;
}

// The least a program can do: write a line, block until "PASS" CR.
double minimalLoopSeconds(const QString &file, int &lines)
{
    QProcess meter;
    const QString device = BenchSupport::startEmulator(meter, kInstant);
    const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);  // the meter understands nothing at any other speed
    tcsetattr(fd, TCSANOW, &t);
    UpgradeFile f;
    f.open(file);
    lines = 0;
    const double t0 = MonotonicClock::now();
    while (!f.atEnd()) {
        const QByteArray line = f.readLine() + '\r';
        if (::write(fd, line.constData(), line.size()) != line.size())
            break;
        QByteArray reply;
        char c = 0;
        while (!reply.endsWith('\r') && ::read(fd, &c, 1) == 1)
            reply += c;
        ++lines;
    }
    const double seconds = MonotonicClock::now() - t0;
    ::close(fd);
    BenchSupport::stopEmulator(meter);
    return seconds;
}

double idealWireSeconds(const QString &file)
{
    UpgradeFile f;
    f.open(file);
    double bytes = 0;
    while (!f.atEnd())
        bytes += f.readLine().size() + 1 + kReplyBytes;
    return bytes * kBitsPerByte / kBaud;
}

int memoryRun(const QString &file)
{
    const Upgrade u = upgradeThroughWindow(file, kInstant);
    std::printf("%ld %d %s\n", BenchSupport::peakResidentKiB(), u.lines, qPrintable(u.outcome));
    return 0;
}

long peakKiBInFreshProcess(const QString &self, const QString &file, QString &outcome)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(self, {QStringLiteral("--memory"), file});
    child.waitForFinished(-1);
    const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
    outcome = QString::fromLatin1(f.mid(2).join(' '));
    return f.value(0).toLong();
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.value(1) == QLatin1String("--memory"))
        return memoryRun(args.value(2));
    const qint64 pacedKiB = args.value(1) == QLatin1String("--paced-kib") ? args.value(2).toLongLong()
                                                                          : kDefaultPacedDataKiB;
    QTemporaryDir dir;

    const QString speedFile = BenchSupport::makeHexFile(dir.path(), "OV3_FW0100.OVH", kSpeedDataBytes, kRecordBytes);
    const Upgrade fast = upgradeThroughWindow(speedFile, kInstant);
    int minimalLines = 0;
    const double minimal = minimalLoopSeconds(speedFile, minimalLines);
    std::printf("1. instant meter, %d lines: tool %.0f lines/s (%.3f s, \"%s\"); minimal blocking loop %.0f lines/s "
                "(%.3f s); tool/minimal = %.2f\n",
                fast.lines, fast.lines / fast.seconds, fast.seconds, qPrintable(fast.outcome),
                minimalLines / minimal, minimal, minimal / fast.seconds);

    const QString pacedFile = BenchSupport::makeHexFile(dir.path(), "OV3_FW0101.OVH", pacedKiB * 1024, kRecordBytes);
    // The meter answers as soon as the line is in: any time beyond the wire is the tool's.
    const Upgrade paced = upgradeThroughWindow(pacedFile, {"--boot", "--reply-delay", "0"});
    const double ideal = idealWireSeconds(pacedFile);
    std::printf("2. 9600 baud, %d lines: %.3f s against an ideal wire time of %.3f s = %+.2f %% (\"%s\")\n",
                paced.lines, paced.seconds, ideal, 100.0 * (paced.seconds - ideal) / ideal, qPrintable(paced.outcome));
    std::printf("3. processor time during that transfer: %.3f s = %.2f %% of one core\n", paced.cpuSeconds,
                100.0 * paced.cpuSeconds / paced.seconds);

    const QString small = BenchSupport::makeHexFile(dir.path(), "OV3_FW0102.OVH", 100 * 1024 * 10 / 23, kRecordBytes);
    const QString large = BenchSupport::makeHexFile(dir.path(), "OV3_FW0103.OVH", 10LL * 1024 * 1024 * 10 / 23,
                                                    kRecordBytes);
    QString smallOutcome, largeOutcome;
    const long smallKiB = peakKiBInFreshProcess(args.value(0), small, smallOutcome);
    const long largeKiB = peakKiBInFreshProcess(args.value(0), large, largeOutcome);
    std::printf("4. peak memory: %.0f KiB file %ld KiB (\"%s\"), %.1f MiB file %ld KiB (\"%s\"); difference %.2f MiB\n",
                QFileInfo(small).size() / 1024.0, smallKiB, qPrintable(smallOutcome),
                QFileInfo(large).size() / 1048576.0, largeKiB, qPrintable(largeOutcome),
                (largeKiB - smallKiB) / 1024.0);
    return 0;
}
