#pragma once

class CommPort;

// Waiting that keeps the window alive without burning a core: the thread
// sleeps in a local event loop until a timer or the serial port wakes it, and
// every handler due in the meantime runs inside the wait.
namespace EventWait {

// Serve the events that are pending now, then return (one yield).
void yieldOnce();

// Serve events until the monotonic clock reaches `deadline` (seconds), or
// sooner when `port` reports input. Returns at once when the deadline has
// passed already.
void sleepUntil(double deadline, CommPort *port = nullptr);

// Serve events for `seconds` (at least one yield, even for zero).
void sleepFor(double seconds);

}
