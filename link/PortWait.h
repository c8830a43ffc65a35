#pragma once
#include "link/CommPort.h"

// The port-aware wait: until `deadline` (monotonic seconds), or sooner when
// `port` reports input or a lost line.
inline void sleepUntilInput(double deadline, CommPort &port)
{
    port.waitForInputUntil(deadline);
}
