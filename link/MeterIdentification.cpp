// Finding a meter in normal mode on one port: quiet it, then ask for its
// version reply.
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "base/EventWait.h"
#include "link/MeterLink.h"
#include "link/VersionReply.h"
#include <cmath>

namespace {
constexpr double kSilenceLimitSeconds = 2.0;  // from the first quiet command
constexpr double kReplyWaitSeconds = 0.5;
constexpr double kReplyReadSeconds = 0.2;
constexpr int kQuietGapTicks = 2;       // between the first two quiet commands
constexpr int kDrainPauseTicks = 5;     // after a quiet command, before reading
constexpr int kSilencePauseTicks = 10;  // after the line was drained
constexpr int kKeptChatterBytes = 64;   // of a meter that never falls silent
}

LinkResult MeterLink::Check_Version(std::int16_t portNumber, bool &found)
{
    aimAt(portNumber);
    const LinkResult reached = checkVersion();
    found = reached == LinkResult::Answered;
    return reached;
}

LinkResult MeterLink::checkVersion()
{
    meter_.lastReply.clear();
    events_.portChecking(meter_.Port_Number);
    Com_Close();
    Com_Open();
    if (!Comm1.portOpen())
        return LinkResult::PortOpenFailed;
    try {
        Comm1.output(kCarriageReturn);
        SDelay(1);
        const double t0 = MonotonicClock::now();
        bool silent = true;
        Comm1.output(kQuietCommand);
        TDelay(kQuietGapTicks);
        Comm1.output(kQuietCommand);
        while (Comm1.inBufferCount() > 0) {
            Comm1.output(kQuietCommand);
            TDelay(kDrainPauseTicks);
            do {
                meter_.lastReply = (meter_.lastReply + Comm1.input()).right(kKeptChatterBytes);
            } while (Comm1.inBufferCount() > 0);
            TDelay(kSilencePauseTicks);
            if (t0 + kSilenceLimitSeconds < MonotonicClock::now()) {
                silent = false;
                break;
            }
        }
        if (!silent) {
            Com_Close();
            return LinkResult::NoAnswer;
        }
        bool valid = false;
        Com_Input_Vers(valid);
        if (!valid)
            return LinkResult::NoAnswer;  // the port stays open; the next probe closes it
    } catch (const FwUpError &) {
        return LinkResult::NoAnswer;  // the line was lost: no reply
    }
    events_.identityRead();
    return LinkResult::Answered;
}

void MeterLink::Com_Input_Vers(bool &valid)
{
    Comm1.output(kVersionRequest);
    EventWait::sleepFor(kReplyWaitSeconds);

    // The reply is read without serving the events of the thread: at most
    // 0.2 s, or up to its carriage return. Anything after that stays for later.
    QByteArray received;
    char last = 0;
    const double end = MonotonicClock::now() + kReplyReadSeconds;
    for (;;) {
        if (Comm1.inBufferCount() > 0) {
            const QByteArray c = Comm1.input();
            if (!c.isEmpty()) {
                last = c.back();
                received += c;
            }
        }
        const double now = MonotonicClock::now();
        if (last == '\r' || now > end)
            break;
        if (Comm1.inBufferCount() == 0)
            Comm1.waitForInput(static_cast<int>(std::ceil((end - now) * 1000)) + 1);
    }
    meter_.lastReply = received;
    valid = VersionReply::parse(received, meter_);
}

bool MeterLink::identifyWithin(double seconds, const std::function<bool()> &stop)
{
    const double until = MonotonicClock::now() + seconds;
    bool found = false;
    while (!found && !stop() && MonotonicClock::now() < until) {
        const LinkResult reached = checkVersion();
        found = reached == LinkResult::Answered;
        if (reached == LinkResult::PortOpenFailed)
            SDelay(1);  // the adapter may be gone while the meter restarts
    }
    return found;
}
