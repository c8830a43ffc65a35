// Measures how much processor time the tool uses while it waits: idle in its
// main loop (the real program, with a meter emulator on one port), inside a
// one-second timed wait, and through a Connect search of one silent port.
// Prints one line per figure.
#include "BenchSupport.h"
#include "app/DocumentOpener.h"
#include "app/QtPrompts.h"
#include "usb/ChipIdLibrary.h"
#include "app/frmFwUpMain.h"
#include "base/MonotonicClock.h"
#include "link/QtCommPort.h"
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <cstdio>

namespace {

constexpr double kIdleSeconds = 5.0;
constexpr double kSettleSeconds = 1.0;  // start-up and port discovery
constexpr double kWaitTicks = 1.0 / MeterLink::kTickSeconds;  // about 1 s

using BenchSupport::ownCpuSeconds;
using BenchSupport::processCpuSeconds;

void idleProgram()
{
    QProcess meter;
    const QString device = BenchSupport::startEmulator(meter, {});

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("OVFW_PORTS"), QStringLiteral("3=%1").arg(device));
    tool.setProcessEnvironment(env);
    tool.start(QStringLiteral(OV_TOOL_PATH), {});
    tool.waitForStarted();
    QThread::msleep(static_cast<unsigned long>(kSettleSeconds * 1000));
    const double before = processCpuSeconds(tool.processId());
    QThread::msleep(static_cast<unsigned long>(kIdleSeconds * 1000));
    const double used = processCpuSeconds(tool.processId()) - before;
    std::printf("idle main loop: %.4f s of CPU in %.1f s = %.2f %% of one core\n", used,
                kIdleSeconds, 100.0 * used / kIdleSeconds);
    tool.kill();
    tool.waitForFinished();
    BenchSupport::stopEmulator(meter);
}

void timedWait()
{
    FwUpGlobals g;
    QtCommPort comm(PortMap::fromOverride(QString()));
    QtPrompts prompts;
    const std::unique_ptr<ChipIdLibrary> chipId = systemChipIdLibrary();
    QtDocumentOpener opener;
    frmFwUpMain window(g, {comm, prompts, QCoreApplication::applicationDirPath(), *chipId, opener});
    window.show();
    const double cpu0 = ownCpuSeconds(), t0 = MonotonicClock::now();
    window.link().TDelay(kWaitTicks);
    const double cpu = ownCpuSeconds() - cpu0, lasted = MonotonicClock::now() - t0;
    std::printf("TDelay %.2f ticks: lasted %.4f s (nominal %.4f s), %.4f s of CPU = %.2f %% of one core\n",
                kWaitTicks, lasted, kWaitTicks * MeterLink::kTickSeconds, cpu, 100.0 * cpu / lasted);
}

// Answers "No meter detected" with Abort, as a user giving up would.
class AbortingPrompts : public QtPrompts {
public:
    MsgAnswer MsgBox(const Question &) override { return MsgAnswer::Abort; }
};

void connectSearch()
{
    QProcess meter;
    const QString device = BenchSupport::startEmulator(meter, {QStringLiteral("--silent")});

    FwUpGlobals g;
    QtCommPort comm(PortMap::fromOverride(QStringLiteral("1=%1").arg(device)));
    AbortingPrompts prompts;
    const std::unique_ptr<ChipIdLibrary> chipId = systemChipIdLibrary();
    QtDocumentOpener opener;
    frmFwUpMain window(g, {comm, prompts, QCoreApplication::applicationDirPath(), *chipId, opener});
    window.Form_Load();
    window.show();
    const double cpu0 = ownCpuSeconds(), t0 = MonotonicClock::now();
    window.cmdConnect_Click();
    const double cpu = ownCpuSeconds() - cpu0, lasted = MonotonicClock::now() - t0;
    std::printf("Connect, one port with nothing answering: lasted %.3f s, %.4f s of CPU = %.2f %% of one core\n",
                lasted, cpu, 100.0 * cpu / lasted);
    BenchSupport::stopEmulator(meter);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    idleProgram();
    timedWait();
    connectSearch();
    return 0;
}
