#include "ScriptedCommPort.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <thread>

void ScriptedCommPort::arrive(int afterMs, const QByteArray &bytes)
{
    const double due = MonotonicClock::now() + afterMs / 1000.0;
    const auto at = std::upper_bound(pending_.begin(), pending_.end(), due,
                                     [](double d, const Burst &b) { return d < b.due; });
    pending_.insert(at, Burst{due, bytes});
    QTimer::singleShot(afterMs, Qt::PreciseTimer, this, [this] {
        deliverDue();
        emit inputArrived();
    });
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
