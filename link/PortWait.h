#pragma once
#include "base/EventWait.h"
#include "link/CommPort.h"

// The port-aware wait: serve events until `deadline` (monotonic seconds), or
// sooner when `port` reports input or a lost line.
inline void sleepUntilInput(double deadline, CommPort &port)
{
    EventWait::sleepUntil(deadline, &port, &CommPort::inputArrived);
}
