#include "cli/StopSignal.h"
#include <algorithm>
#include <csignal>
#include <memory>
#include <string>
#include <unistd.h>

namespace {
std::atomic<bool> stopFlag{false};
std::atomic<int> signalsSeen{0};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "the count is kept by a signal handler");

// One meter's part of the note, ready to be written as it is.
struct FinishNote {
    std::string text;
    std::atomic<bool> mayBeInBootLoader{false};  // read by the signal handler
};
std::unique_ptr<FinishNote[]> finishNotes;  // indexed by port number
int finishNoteCount = 0;

void writeAll(const char *text, std::size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, length);
        if (written <= 0)
            return;
        text += written;
        length -= static_cast<std::size_t>(written);
    }
}

// Only async-signal-safe calls from here on.
void writeEscapeNote()
{
    static const char kHeading[] = "\novfw: stopped at once, without finishing the lines in flight.\n";
    writeAll(kHeading, sizeof kHeading - 1);
    for (int port = 0; port < finishNoteCount; ++port) {
        const FinishNote &note = finishNotes[port];
        if (note.mayBeInBootLoader.load())
            writeAll(note.text.data(), note.text.size());
    }
}

void onSignal(int signalNumber)
{
    stopFlag.store(true);
    if (signalsSeen.fetch_add(1) == 0)
        return;
    // The second one: the way out stays open, at once.
    writeEscapeNote();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);  // delivered as the handler returns
}
}

namespace StopSignal {
void install()
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

bool requested() { return stopFlag.load(); }
const std::atomic<bool> &flag() { return stopFlag; }
void request() { stopFlag.store(true); }

void setFinishNotes(const QMap<int, QString> &notes)
{
    const int count = notes.isEmpty() ? 0 : std::max(0, notes.lastKey() + 1);
    finishNotes = std::make_unique<FinishNote[]>(static_cast<std::size_t>(count));
    for (auto it = notes.cbegin(); it != notes.cend(); ++it)
        if (it.key() >= 0)
            finishNotes[it.key()].text = it.value().toStdString();
    finishNoteCount = count;
}

void setMayBeInBootLoader(int port, bool maybe)
{
    if (port >= 0 && port < finishNoteCount)
        finishNotes[port].mayBeInBootLoader.store(maybe);
}
}
