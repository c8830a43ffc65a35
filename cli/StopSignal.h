#pragma once
#include <QMap>
#include <QString>
#include <atomic>

// SIGINT, SIGTERM and SIGHUP (a closed terminal, a killed tmux session) ask
// every meter to stop after the line in flight. A second one ends the
// program at once, with no summary: just before, standard error names the
// meters that may be in their boot loader and how to finish them.
namespace StopSignal {
void install();
bool requested();
const std::atomic<bool> &flag();
void request();  // as if a signal had come (tests, internal use)

// What the note of a second signal says of each meter, by its port number
// (above 16 for a meter named by its device), when it may be in its boot
// loader: made here, once, since the signal handler may not build text. Set
// before install().
void setFinishNotes(const QMap<int, QString> &notes);
// Whether the meter on `port` may be in its boot loader now.
void setMayBeInBootLoader(int port, bool maybe);
}
