#pragma once
#include <QEventLoop>
#include <QObject>
#include <functional>

// Waiting that keeps the window alive without burning a core: the thread
// sleeps in a local event loop until a timer or a wake source (any signal of
// any object) wakes it, and every handler due in the meantime runs inside
// the wait.
namespace EventWait {

// Connects whatever should end a sleep early to the sleep's loop.
using WakeSource = std::function<QMetaObject::Connection(QEventLoop &loop)>;

// Serve the events that are pending now, then return (one yield).
void yieldOnce();

// Serve events until the monotonic clock reaches `deadline` (seconds), or
// sooner when the wake source fires. Returns at once when the deadline has
// passed already.
void sleepUntil(double deadline, const WakeSource &wakeSource = {});

// Serve events until `deadline`, or sooner when `sender` emits `signal`.
template <typename Sender, typename Signal>
void sleepUntil(double deadline, const Sender *sender, Signal signal)
{
    sleepUntil(deadline, [sender, signal](QEventLoop &loop) {
        return QObject::connect(sender, signal, &loop, &QEventLoop::quit);
    });
}

// Serve events for `seconds` (at least one yield, even for zero).
void sleepFor(double seconds);

}
