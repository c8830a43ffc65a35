// One port of the search for a meter already waiting in its boot loader, and
// the switch of an identified meter into its boot loader.
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "link/PortWait.h"
#include "link/MeterLink.h"

namespace {
constexpr double kDrainSeconds = 0.2;  // replies to the quiet command are discarded
}

LinkResult MeterLink::probeBootAt(std::int16_t portNumber, bool &acknowledged)
{
    aimAt(portNumber);
    const LinkResult reached = probeBoot();
    acknowledged = reached == LinkResult::Answered;
    return reached;
}

LinkResult MeterLink::probeBoot()
{
    bool acknowledged = false;
    Com_Close();
    Com_Open();
    events_.bootPortChecking(meter_.Port_Number);
    const bool opened = Comm1.portOpen();
    SDelay(1);
    try {
        Comm1.output(kUpgradeModeCommand);
        Acknowledge(acknowledged);
    } catch (const FwUpError &) {
        acknowledged = false;  // the port could not be opened, or the line was lost
    }
    if (!opened)
        return LinkResult::PortOpenFailed;
    return acknowledged ? LinkResult::Answered : LinkResult::NoAnswer;
}

bool MeterLink::switchToBootLoader()
{
    Comm1.output(kQuietCommand);
    drainAfterQuiet();
    Comm1.output(kUpgradeModeCommand);
    return acknowledgement() == MeterReply::Accepted;
}

void MeterLink::drainAfterQuiet()
{
    // Whatever the meter says to the quiet command is read and dropped, while
    // the thread keeps serving its events.
    const double end = MonotonicClock::now() + kDrainSeconds;
    for (;;) {
        Comm1.yieldOnce();
        if (Comm1.inBufferCount() > 0)
            Comm1.input();
        if (MonotonicClock::now() >= end)
            return;
        if (Comm1.inBufferCount() == 0)
            sleepUntilInput(end, Comm1);
    }
}
