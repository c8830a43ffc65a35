#include "cli/StopSignal.h"
#include <algorithm>
#include <memory>
#include <string>

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

}

namespace StopSignal {
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

bool countStop()
{
    stopFlag.store(true);
    return signalsSeen.fetch_add(1) > 0;
}

// Only async-signal-safe calls: `write` is one too.
void writeEscapeNote(void (*write)(const char *text, std::size_t length))
{
    static const char kHeading[] = "\novfw: stopped at once, without finishing the lines in flight.\n";
    write(kHeading, sizeof kHeading - 1);
    for (int slot = 0; slot < finishNoteCount; ++slot) {
        const FinishNote &note = finishNotes[slot];
        if (shown(note))
            write(note.text.data(), note.text.size());
    }
}

}
