// A last, longer wait for an acknowledgement that came after its window: a
// slow meter may have switched, and says so late.
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "link/PortWait.h"
#include "link/MeterLink.h"

namespace {
const QByteArray kAccepted = QByteArrayLiteral("PASS");
constexpr char kReplyEnd = '\r';
}

bool MeterLink::awaitLateAcknowledge(double seconds)
{
    QByteArray reply;
    const double deadline = MonotonicClock::now() + seconds;
    for (;;) {
        Comm1.yieldOnce();
        while (Comm1.inBufferCount() > 0)
            reply += Comm1.input();
        // A whole reply that holds "PASS" ends the wait; anything else may be
        // followed by the late one.
        if (reply.contains(kAccepted) && reply.indexOf(kReplyEnd, reply.indexOf(kAccepted)) >= 0)
            return true;
        if (MonotonicClock::now() >= deadline)
            return reply.contains(kAccepted);
        if (Comm1.inBufferCount() == 0)
            sleepUntilInput(deadline, Comm1);
    }
}
