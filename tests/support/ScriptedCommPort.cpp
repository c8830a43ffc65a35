#include "ScriptedCommPort.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <chrono>
#include <thread>

void ScriptedCommPort::arrive(int afterMs, const QByteArray &bytes)
{
    const double due = MonotonicClock::now() + afterMs / 1000.0;
    const auto at = std::upper_bound(pending_.begin(), pending_.end(), due,
                                     [](double d, const Burst &b) { return d < b.due; });
    pending_.insert(at, Burst{due, bytes});
    QTimer::singleShot(afterMs, Qt::PreciseTimer, this, [this, due] { deliverAt(due); });
}

void ScriptedCommPort::deliverAt(double due)
{
    // A timer may fire a little before its time by the monotonic clock
    // (Windows counts its timers by another clock): it is set again for the
    // rest, so the bytes come when they are due and the port says so then.
    const double early = due - MonotonicClock::now();
    if (early > 0) {
        QTimer::singleShot(static_cast<int>(std::ceil(early * 1000.0)), Qt::PreciseTimer, this,
                           [this, due] { deliverAt(due); });
        return;
    }
    deliverDue();
    emit inputArrived();
}

void ScriptedCommPort::deliverDue()
{
    const double now = MonotonicClock::now();
    while (!pending_.empty() && pending_.front().due <= now) {
        buffer_ += pending_.front().bytes;
        pending_.pop_front();
    }
}

void ScriptedCommPort::requireOpen() const
{
    if (!open_)
        throw FwUpError(FwUpErrorNumber::CommPortNotOpen);
}

void ScriptedCommPort::output(const QByteArray &bytes)
{
    requireOpen();
    written += bytes;
    if (replyTo)
        preload(replyTo(bytes));
}

int ScriptedCommPort::inBufferCount()
{
    requireOpen();
    deliverDue();
    return static_cast<int>(buffer_.size());
}

QByteArray ScriptedCommPort::input()
{
    requireOpen();
    deliverDue();
    const QByteArray one = buffer_.left(1);
    buffer_.remove(0, 1);
    return one;
}

QByteArray ScriptedCommPort::inputThrough(char end)
{
    requireOpen();
    deliverDue();
    const qsizetype endAt = buffer_.indexOf(end);
    const QByteArray taken = buffer_.left(endAt < 0 ? buffer_.size() : endAt + 1);
    buffer_.remove(0, taken.size());
    return taken;
}

bool ScriptedCommPort::waitForInput(int milliseconds)
{
    requireOpen();
    deliverDue();
    if (buffer_.isEmpty()) {
        double until = MonotonicClock::now() + milliseconds / 1000.0;
        if (!pending_.empty())
            until = std::min(until, pending_.front().due);
        const double seconds = until - MonotonicClock::now();
        if (seconds > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        deliverDue();
    }
    return !buffer_.isEmpty();
}
