#pragma once
#include <atomic>

// SIGINT and SIGTERM ask every meter to stop after the line in flight. A
// second signal ends the program at once (the default action is restored).
namespace StopSignal {
void install();
bool requested();
const std::atomic<bool> &flag();
void request();  // as if a signal had come (tests, internal use)
}
