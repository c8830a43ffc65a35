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

// One meter's part of the note, ready to be written as it is. Its text is
// written before `published` is set, and not touched after.
struct FinishNote {
    std::string text;
    std::atomic<bool> published{false};
    std::atomic<bool> mayBeInBootLoader{false};  // read by the signal handler
};
static_assert(std::atomic<bool>::is_always_lock_free, "the slots are read by a signal handler");
std::unique_ptr<FinishNote[]> finishNotes;
int finishNoteCount = 0;
std::atomic<int> notesTaken{0};

bool shown(const FinishNote &note)
{
    return note.published.load(std::memory_order_acquire) && note.mayBeInBootLoader.load();
}

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
    for (int slot = 0; slot < finishNoteCount; ++slot) {
        const FinishNote &note = finishNotes[slot];
        if (shown(note))
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

void reserveNoteSlots(int count)
{
    finishNoteCount = std::max(0, count);
    finishNotes = std::make_unique<FinishNote[]>(static_cast<std::size_t>(finishNoteCount));
    notesTaken.store(0);
}

int publishNote(const QString &text)
{
    const int slot = notesTaken.fetch_add(1);
    if (slot >= finishNoteCount)
        return -1;
    finishNotes[slot].text = text.toStdString();
    finishNotes[slot].published.store(true, std::memory_order_release);
    return slot;
}

void setMayBeInBootLoader(int slot, bool maybe)
{
    if (slot >= 0 && slot < finishNoteCount)
        finishNotes[slot].mayBeInBootLoader.store(maybe);
}

}
