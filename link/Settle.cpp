// The wait before something is repeated automatically: the line must have
// been quiet for a while, so that a late answer to the first attempt is read
// here and not taken for the answer to the repeat.
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "link/PortWait.h"
#include "link/MeterLink.h"
#include <algorithm>

namespace {
const QByteArray kAccepted = QByteArrayLiteral("PASS");
constexpr char kReplyEnd = '\r';
// After an answer that ended in time with its carriage return, only its own
// tail can still come: a flipped bit may have made a CR of any byte, and the
// rest follows at once. Two characters' quiet ends it.
constexpr double kQuietAfterAnswerChars = 2;
constexpr double kShortestQuietSeconds = 0.002;  // a port that knows no speed
}

MeterReply MeterLink::settle(const SettleTimes &times)
{
    const double start = MonotonicClock::now();
    const double latest = start + times.mostSeconds;
    double lastHeard = start;
    bool heard = false;
    // Only an answer that had not ended is still on its way.
    bool waiting = replyUnfinished_;
    const double quietSeconds =
        waiting ? times.quietSeconds
                : std::max(kQuietAfterAnswerChars * Comm1.characterSeconds(), kShortestQuietSeconds);
    QByteArray reply = unfinishedReply_;
    replyUnfinished_ = false;
    unfinishedReply_.clear();
    for (;;) {
        Comm1.yieldOnce();
        while (Comm1.inBufferCount() > 0) {
            const QByteArray read = Comm1.input();
            heard = true;
            lastHeard = MonotonicClock::now();
            if (!waiting)
                continue;
            reply += read;
            if (read.contains(kReplyEnd)) {
                if (reply.contains(kAccepted))
                    return MeterReply::Accepted;
                waiting = false;  // refused: what follows is waited out
            }
        }
        const double now = MonotonicClock::now();
        const double quietAt = lastHeard + quietSeconds;
        if (now >= quietAt || now >= latest)
            break;
        sleepUntilInput(std::min(quietAt, latest), Comm1);
    }
    // A "PASS" that never got its carriage return still says accepted, as it
    // does inside the window.
    if (waiting && reply.contains(kAccepted))
        return MeterReply::Accepted;
    return heard ? MeterReply::Refused : MeterReply::NoAnswer;
}
