#pragma once
#include <QString>
#include <atomic>

// SIGINT, SIGTERM and SIGHUP (a closed terminal, a killed tmux session) ask
// every meter to stop after the line in flight. A second one ends the
// program at once, with no summary: just before, standard error names the
// ports whose meters may be in their boot loader and how to finish them.
namespace StopSignal {
void install();
bool requested();
const std::atomic<bool> &flag();
void request();  // as if a signal had come (tests, internal use)

// The file the note of a second signal tells to finish with; set before
// install().
void setUpgradeFile(const QString &path);
// Whether the meter on `port` (1..16) may be in its boot loader now.
void setMayBeInBootLoader(int port, bool maybe);
}
