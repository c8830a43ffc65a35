#pragma once
#include "cli/MeterBoard.h"

// How the meters of a run are shown while they work and when they are done.
namespace MeterOutput {

// One line for a meter: port, serial, bar, lines done/total, bytes/s, time left.
QString progressLine(const MeterStatus &s, double now);
// `lines` for a terminal, redrawn over the `linesShown` written before,
// each cut to the terminal's width.
QString redrawn(const QStringList &lines, int linesShown);
// Every meter's line, redrawn so, below `notes` that scroll up above them.
QString liveLines(const MeterBoard &board, int linesShown, const QStringList &notes = {});
// Seconds as "m:ss".
QString clock(double seconds);
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

}
