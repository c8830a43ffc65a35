#pragma once
#include "cli/MeterBoard.h"
#include "cli/MeterJob.h"

// Starts one job per meter of the board and waits for all of them, showing
// their progress: live lines on a terminal, plain lines every few seconds
// otherwise, nothing more than the events with JSON.
void runMeters(MeterBoard &board, const MeterJobSettings &settings, bool liveTerminal);
