// Sending an upgrade line, and waiting for the meter to accept what was just
// written: its reply, up to a carriage return or for at most 0.3 s, must
// contain "PASS".
#include "base/MonotonicClock.h"
#include "link/CommPort.h"
#include "link/EventWait.h"
#include "link/MeterLink.h"

namespace {
// Longer than the longest record (521 characters) takes at 9600 baud.
constexpr int kMostWriteMilliseconds = 3000;
// Wake just after the deadline, so the last pass sees the clock past it.
constexpr double kPastDeadlineSeconds = 0.001;
const QByteArray kAccepted = QByteArrayLiteral("PASS");
}

void MeterLink::Send_Line(const QByteArray &line, bool &accepted)
{
    MeterReply reply = MeterReply::NoAnswer;
    Send_Line(line, reply);
    accepted = reply == MeterReply::Accepted;
}

void MeterLink::Send_Line(const QByteArray &line, MeterReply &reply)
{
    reply = sendLine(line, kAcknowledgeSeconds);
}

MeterReply MeterLink::sendLine(const QByteArray &line, double windowSeconds)
{
    discardReceived();
    Comm1.output(line + kCarriageReturn);
    // The meter's window opens once the line has left the port: at 9600 baud
    // a long record is still on the wire for longer than the window lasts.
    Comm1.waitForWritten(kMostWriteMilliseconds);
    return awaitReply(windowSeconds);
}

void MeterLink::Acknowledge(bool &accepted)
{
    MeterReply reply = MeterReply::NoAnswer;
    Acknowledge(reply);
    accepted = reply == MeterReply::Accepted;
}

void MeterLink::Acknowledge(MeterReply &judged)
{
    judged = awaitReply(kAcknowledgeSeconds);
}

MeterReply MeterLink::awaitReply(double windowSeconds)
{
    QByteArray reply, lastRead;
    const double deadline = MonotonicClock::now() + windowSeconds;
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
    heardNothing_ = reply.isEmpty();
    replyUnfinished_ = lastRead != "\r";
    unfinishedReply_ = replyUnfinished_ ? reply : QByteArray();
    if (reply.contains(kAccepted))
        return MeterReply::Accepted;
    return reply.isEmpty() ? MeterReply::NoAnswer : MeterReply::Refused;
}
