// Sending an upgrade line, and waiting for the meter to accept what was just
// written: its reply, up to a carriage return or for at most 0.3 s, must
// contain "PASS".
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "link/EventWait.h"
#include "link/MeterLink.h"

namespace {
constexpr double kAcknowledgeSeconds = 0.3;
// Wake just after the deadline, so the last pass sees the clock past it.
constexpr double kPastDeadlineSeconds = 0.001;
const QByteArray kAccepted = QByteArrayLiteral("PASS");
}

void MeterLink::Send_Line(const QByteArray &line, bool &accepted)
{
    discardReceived();
    Comm1.output(line + kCarriageReturn);
    Acknowledge(accepted);
}

void MeterLink::Acknowledge(bool &accepted)
{
    QByteArray reply, lastRead;
    const double deadline = MonotonicClock::now() + kAcknowledgeSeconds;
    for (;;) {
        EventWait::yieldOnce();
        if (Comm1.inBufferCount() > 0) {
            lastRead = Comm1.input();
            reply += lastRead;
        }
        if (lastRead == "\r" || MonotonicClock::now() > deadline)
            break;
        // Nothing waiting: sleep until the meter sends or time is up.
        if (Comm1.inBufferCount() == 0)
            EventWait::sleepUntil(deadline + kPastDeadlineSeconds, &Comm1);
    }
    accepted = reply.contains(kAccepted);
    heardNothing_ = reply.isEmpty();
}
