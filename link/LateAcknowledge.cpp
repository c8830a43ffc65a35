// A last, longer wait for an acknowledgement that came after its window: a
// slow meter may have switched, and says so late.
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "link/EventWait.h"
#include "link/MeterLink.h"

namespace {
const QByteArray kAccepted = QByteArrayLiteral("PASS");
constexpr char kReplyEnd = '\r';
}

void MeterLink::Await_Late_Acknowledge(double seconds, bool &accepted)
{
    QByteArray reply;
    const double deadline = MonotonicClock::now() + seconds;
    accepted = false;
    for (;;) {
        EventWait::yieldOnce();
        while (Comm1.inBufferCount() > 0)
            reply += Comm1.input();
        // A whole reply that holds "PASS" ends the wait; anything else may be
        // followed by the late one.
        if (reply.contains(kAccepted) && reply.indexOf(kReplyEnd, reply.indexOf(kAccepted)) >= 0) {
            accepted = true;
            return;
        }
        if (MonotonicClock::now() >= deadline) {
            accepted = reply.contains(kAccepted);
            return;
        }
        if (Comm1.inBufferCount() == 0)
            EventWait::sleepUntil(deadline, &Comm1);
    }
}
