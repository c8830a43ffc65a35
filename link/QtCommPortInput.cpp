// What comes in, and the waits: the port takes in what the line has, hands
// it over as asked, and sleeps until input comes or time is up, as the event
// loop's wait would.
#include "link/QtCommPort.h"
#include "base/MonotonicClock.h"
#include "link/LineWatch.h"
#include "link/PortWait.h"
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {
constexpr int kTakeInChunk = 4096;
constexpr int kMostWakeChars = 255;  // VMIN is one byte
}

void QtCommPort::takeIn()
{
    if (!line_->isOpen())
        return;
    char chunk[kTakeInChunk];
    bool took = false;
    for (;;) {
        const long n = line_->read(chunk, sizeof chunk);
        if (n < 0) {
            lineLost();
            return;
        }
        if (n == 0)
            break;
        buffer_.append(chunk, static_cast<qsizetype>(n));
        took = true;
        // Less than a chunk is all there was: asking again would only hear so.
        if (n < static_cast<long>(sizeof chunk))
            break;
    }
    if (watch_)
        watch_->rearm();
    if (took)
        emit inputArrived();
}

void QtCommPort::waitForWritten(int milliseconds)
{
    requireOpen();
    const double limit = MonotonicClock::now() + milliseconds / 1000.0;
    for (;;) {
        if (!line_->isOpen())
            return;
        if (buffer_.size() > inputAtOutput_) {
            // The meter answered: it has the whole line, whatever the wire
            // model says (a fast meter is ahead of it line after line).
            wireFreeAt_ = MonotonicClock::now();
            return;
        }
        const qint64 queued = line_->outputQueued();
        const double now = MonotonicClock::now();
        if (queued == 0 && now >= wireFreeAt_)
            break;
        if (now >= limit)
            return;
        // Sleep until the queue should be out, or input wakes us.
        const double due = queued > 0 ? now + queued * characterSeconds() : wireFreeAt_;
        sleepUntilInput(std::min(due, limit), *this);
    }
    // The last few characters in the adapter's own buffer: a short block,
    // none at all on a pseudo-terminal.
    if (line_->isOpen() && !line_->drain())
        lineLost();
}

int QtCommPort::inBufferCount()
{
    requireOpen();
    return static_cast<int>(buffer_.size());
}

QByteArray QtCommPort::input()
{
    requireOpen();
    const qsizetype count = inputLen_ > 0 ? std::min<qsizetype>(inputLen_, buffer_.size()) : buffer_.size();
    QByteArray taken = buffer_.left(count);
    buffer_.remove(0, count);
    return taken;
}

void QtCommPort::setInputWakeChars(int chars)
{
    chars = std::clamp(chars, 1, kMostWakeChars);
    if (!line_->isOpen() || !wakeCharsHeld_ || chars == inputWakeChars_)
        return;
    inputWakeChars_ = chars;
    // Waits that block in the line tell it just before they block: a wake
    // count asked for and given up again between two waits costs nothing.
    if (!waitsBlocked_)
        applyInputWake();
}

void QtCommPort::applyInputWake()
{
    if (lineWakeChars_ != inputWakeChars_ && line_->setWakeChars(inputWakeChars_))
        lineWakeChars_ = inputWakeChars_;
}

QByteArray QtCommPort::inputThrough(char end)
{
    requireOpen();
    const qsizetype endAt = buffer_.indexOf(end);
    const qsizetype count = endAt < 0 ? buffer_.size() : endAt + 1;
    QByteArray taken = buffer_.left(count);
    buffer_.remove(0, count);
    return taken;
}

void QtCommPort::waitForInputUntil(double deadline)
{
    if (!waitsBlocked_ || !line_->isOpen()) {
        CommPort::waitForInputUntil(deadline);
        return;
    }
    const double remaining = deadline - MonotonicClock::now();
    if (remaining <= 0)
        return;
    // As the event loop's wait: what arrives is taken into the port and
    // announced, a lost line closes it, and time up is no error.
    applyInputWake();
    switch (line_->waitReadable(static_cast<int>(std::ceil(remaining * 1000.0)))) {
    case SerialLine::Waited::Readable: takeIn(); break;
    case SerialLine::Waited::Lost: lineLost(); break;
    case SerialLine::Waited::TimeUp:
    case SerialLine::Waited::Stopped: break;
    }
}

void QtCommPort::yieldOnce()
{
    if (!waitsBlocked_ || !line_->isOpen()) {
        CommPort::yieldOnce();
        return;
    }
    // What the event loop's pass would take in: nothing until the wake
    // count is reached.
    if (line_->inputQueued() >= inputWakeChars_)
        takeIn();
}

void QtCommPort::restUntil(double deadline)
{
    // A line that wakes its wait only once a whole answer has come needs no
    // rest before that wait: the wait itself is the rest.
    const double remaining = deadline - MonotonicClock::now();
    if (waitsBlocked_ && !wakeCharsHeld_ && remaining > 0)
        std::this_thread::sleep_for(std::chrono::duration<double>(remaining));
}

bool QtCommPort::waitForInput(int milliseconds)
{
    requireOpen();
    if (!buffer_.isEmpty())
        return true;
    applyInputWake();
    switch (line_->waitReadable(milliseconds)) {
    case SerialLine::Waited::Readable: takeIn(); break;
    case SerialLine::Waited::Lost: lineLost(); break;
    case SerialLine::Waited::TimeUp:
    case SerialLine::Waited::Stopped: break;
    }
    return !buffer_.isEmpty();
}
