#include "base/EventWait.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <QTimer>
#include <cmath>

namespace EventWait {

void yieldOnce()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void sleepUntil(double deadline, const WakeSource &wakeSource)
{
    const double remaining = deadline - MonotonicClock::now();
    if (remaining <= 0)
        return;
    // A nested loop of its own, as the window's handlers expect (objects
    // deleted later go when their own loop has returned).
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (wakeSource)
        wakeSource(loop);
    timer.start(static_cast<int>(std::ceil(remaining * 1000.0)));
    loop.exec();
}

void sleepFor(double seconds)
{
    const double end = MonotonicClock::now() + seconds;
    yieldOnce();
    while (MonotonicClock::now() < end)
        sleepUntil(end);
}

}
