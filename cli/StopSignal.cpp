#include "cli/StopSignal.h"
#include <csignal>

namespace {
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

void onSignal(int signalNumber)
{
    stopFlag.store(true);
    std::signal(signalNumber, SIG_DFL);  // a second one ends the program
}
}

namespace StopSignal {
void install()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool requested() { return stopFlag.load(); }
const std::atomic<bool> &flag() { return stopFlag; }
void request() { stopFlag.store(true); }
}
