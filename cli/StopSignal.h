#pragma once
#include <QString>
#include <atomic>
#include <cstddef>

// SIGINT, SIGTERM and SIGHUP (a closed terminal, a killed tmux session), and
// on Windows the console's Ctrl+C, Ctrl+Break and close, ask every meter to
// stop after the line in flight. A second one ends the
// program at once, with no summary: just before, standard error names the
// meters that may be in their boot loader and how to finish them.
namespace StopSignal {
void install();
bool requested();
const std::atomic<bool> &flag();
void request();  // as if a signal had come (tests, internal use)

// What the note of a second signal says of each meter that may be in its
// boot loader lives in a slot: `count` of them are made before any meter
// starts (and before install()), since the signal handler may not allocate.
void reserveNoteSlots(int count);
// Writes the note of one meter into the next free slot and publishes it;
// returns the slot, or -1 when every slot is taken. A slot is written once
// and never changed while published, so a meter that appears late (a
// station's socket) is named as surely as one given at start.
int publishNote(const QString &text);
// Whether the meter of `slot` may be in its boot loader now.
void setMayBeInBootLoader(int slot, bool maybe);

// For the platform's handler: notes one stop; true from the second on, when
// the program must end at once after writing the note below.
bool countStop();
void writeEscapeNote(void (*write)(const char *text, std::size_t length));
}
