#include "link/EventWait.h"
#include "link/CommPort.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <cmath>

namespace EventWait {

void yieldOnce()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void sleepUntil(double deadline, CommPort *port)
{
    const double remaining = deadline - MonotonicClock::now();
    if (remaining <= 0)
        return;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (port)
        QObject::connect(port, &CommPort::inputArrived, &loop, &QEventLoop::quit);
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
