#include "cli/StopSignal.h"
#include <csignal>
#include <unistd.h>

namespace {

// Only async-signal-safe calls here.
void writeStandardError(const char *text, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, length);
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

void onSignal(int signalNumber)
{
    if (!StopSignal::countStop())
        return;
    // The second one: the way out stays open, at once.
    StopSignal::writeEscapeNote(writeStandardError);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);  // delivered as the handler returns
}

} // namespace

void StopSignal::install()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}
