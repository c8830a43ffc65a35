#pragma once
#include "cli/MeterBoard.h"
#include "cli/MeterJob.h"

// How the meters of a run are shown while they work and when they are done.
namespace MeterOutput {

// One line for a meter: port, serial, bar, lines done/total, bytes/s, time left.
QString progressLine(const MeterStatus &s, double now);
// The table at the end: port, serial, result, lines, time, retries.
QString summary(const QList<MeterStatus> &meters);
// How to finish the meters left in their boot loader; empty when none.
QString bootLoaderAdvice(const QList<MeterStatus> &meters, const QString &filePath);
// The command that finishes the meter at `where` in its boot loader with the
// file at `filePath`; every path in it quoted for the shell.
QString finishCommand(const QString &filePath, const MeterAddress &where);
// What a second signal's note says of that meter when it may be in its boot
// loader.
QString signalNote(const QString &filePath, const MeterAddress &where);

// Starts one job per meter and waits for all of them, showing progress: live
// lines on a terminal, plain lines every few seconds otherwise, nothing more
// than the events with JSON.
void runMeters(MeterBoard &board, const MeterJobSettings &settings, bool liveTerminal);

}
