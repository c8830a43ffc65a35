// Sending an upgrade line, and waiting for the meter to accept what was just
// written: its reply, up to a carriage return or for at most 0.3 s, must
// contain "PASS".
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "link/PortWait.h"
#include "link/MeterLink.h"
#include <algorithm>

namespace {
// Longer than the longest record (521 characters) takes at 9600 baud.
constexpr int kMostWriteMilliseconds = 3000;
// Wake just after the deadline, so the last pass sees the clock past it.
constexpr double kPastDeadlineSeconds = 0.001;
const QByteArray kAccepted = QByteArrayLiteral("PASS");
// The shortest whole answer to a line: "PASS" or "FAIL" and the carriage return.
constexpr qsizetype kShortestAnswerChars = 5;
// The meter's usual time to answer, in characters at the line's speed.
constexpr qsizetype kAnswerGraceChars = 3;
// A port that needed longer than this to drain still held part of the line.
constexpr double kDrainedAtOnceSeconds = 0.001;
constexpr char kCarriageReturnChar = '\r';
// Lines answered after a rest, before one is listened to throughout again.
constexpr int kRestedLinesBetweenChecks = 32;

// Input wakes the waits of its scope only once the given number of
// characters is waiting; every character again when it ends.
class InputWake {
public:
    explicit InputWake(CommPort &port) : port_(port) {}
    ~InputWake() { port_.setInputWakeChars(1); }
    InputWake(const InputWake &) = delete;
    InputWake &operator=(const InputWake &) = delete;
    void onceWaiting(qsizetype chars) { port_.setInputWakeChars(static_cast<int>(chars)); }

private:
    CommPort &port_;
};
}

MeterReply MeterLink::sendLine(const QByteArray &line, double windowSeconds)
{
    discardReceived();
    Comm1.output(line + kCarriageReturn);
    // The meter's window opens once the line has left the port: at 9600 baud
    // a long record is still on the wire for longer than the window lasts.
    // No answer can be whole before the shortest one has had its own time on
    // the wire after the line, so the thread sleeps through both at once,
    // woken by a whole answer or a little after that time.
    const double lineLeaves = Comm1.outputLeavesAt();
    const double charSeconds = Comm1.characterSeconds();
    const double wholeAtSoonest = lineLeaves + kShortestAnswerChars * charSeconds;
    const double wakeBy = lineLeaves + (kShortestAnswerChars + kAnswerGraceChars) * charSeconds;
    // On a paced line the answer's characters come one by one. A meter heard
    // keeping pace answers only after the line has left, so the thread rests
    // rather than being woken by each of them: until the answer was whole
    // the last time it was listened for, within the sleep's own bounds. Now
    // and then a line is listened to throughout, which also keeps that time
    // current, and a meter that has become faster than the wire is not held
    // back by rests.
    const bool rest = linesSinceHeardPaced_ >= 0 && linesSinceHeardPaced_ < kRestedLinesBetweenChecks;
    if (rest)
        Comm1.restUntil(std::clamp(lineLeaves + answerWholeAfterLine_, wholeAtSoonest, wakeBy));
    InputWake wake(Comm1);
    wake.onceWaiting(kShortestAnswerChars);
    sleepUntilInput(wakeBy, Comm1);
    if (rest)
        ++linesSinceHeardPaced_;
    else
        linesSinceHeardPaced_ = MonotonicClock::now() >= lineLeaves ? 0 : -1;
    const double drainFrom = MonotonicClock::now();
    Comm1.waitForWritten(kMostWriteMilliseconds);
    const double drained = MonotonicClock::now();
    // A port that still held part of the line opens the window when it is out.
    const double opens = drained - drainFrom > kDrainedAtOnceSeconds ? drained : std::min(lineLeaves, drained);
    const MeterReply reply = awaitReply(opens + windowSeconds);
    if (!rest && !replyUnfinished_)
        answerWholeAfterLine_ = MonotonicClock::now() - lineLeaves;
    return reply;
}

void MeterLink::Acknowledge(bool &accepted)
{
    accepted = acknowledgement() == MeterReply::Accepted;
}

MeterReply MeterLink::acknowledgement()
{
    return awaitReply(MonotonicClock::now() + kAcknowledgeSeconds);
}

// The reply is judged as if read one character at a time: it ends at its
// first carriage return, and what follows stays waiting for the next
// judgement. Once the deadline has passed, one character more is all it
// takes. What is waiting is read in one go, and the rest of a short answer
// that has begun is awaited in one sleep rather than a wake per character.
MeterReply MeterLink::awaitReply(double deadline)
{
    QByteArray reply;
    bool ended = false;
    InputWake wake(Comm1);
    for (bool fetched = false;; fetched = !fetched) {
        const bool late = MonotonicClock::now() > deadline;
        if (Comm1.inBufferCount() > 0) {
            const QByteArray read = late ? Comm1.input() : Comm1.inputThrough(kCarriageReturnChar);
            reply += read;
            ended = read.endsWith(kCarriageReturnChar);
        }
        if (ended || late)
            break;
        if (!fetched) {
            // What the port has not handed over yet, however little of it
            // is waiting: a whole answer that came in with the wake needs
            // no such pass.
            wake.onceWaiting(1);
            Comm1.yieldOnce();
            continue;
        }
        // Nothing waiting (all of it was read): sleep until the meter sends
        // or time is up. Once an answer has begun, the rest of the shortest
        // one wakes the thread once, or its characters' time does (and a
        // little more), whichever comes first: a shorter reply is still
        // judged within a few characters' time.
        double wakeBy = deadline + kPastDeadlineSeconds;
        const qsizetype answerRest = kShortestAnswerChars - reply.size();
        const bool answerBegun = !reply.isEmpty() && answerRest > 1 && Comm1.characterSeconds() > 0;
        if (answerBegun)
            wakeBy = std::min(wakeBy, MonotonicClock::now() + (answerRest + kAnswerGraceChars) * Comm1.characterSeconds());
        wake.onceWaiting(answerBegun ? answerRest : 1);
        sleepUntilInput(wakeBy, Comm1);
    }
    heardNothing_ = reply.isEmpty();
    replyUnfinished_ = !ended;
    unfinishedReply_ = replyUnfinished_ ? reply : QByteArray();
    if (reply.contains(kAccepted))
        return MeterReply::Accepted;
    return reply.isEmpty() ? MeterReply::NoAnswer : MeterReply::Refused;
}
