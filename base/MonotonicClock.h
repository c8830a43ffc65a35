#pragma once
#include <chrono>

// Seconds on a clock that never jumps or wraps (not the time of day), so a
// wait across midnight keeps its nominal length.
namespace MonotonicClock {
inline double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
}
