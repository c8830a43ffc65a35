#pragma once
#include "cli/MeterBoard.h"
#include "cli/MeterJob.h"

// How much a run shows while its meters work (its summary is shown anyway).
enum class Verbosity {
    Quiet,    // nothing: errors and the summary only
    Normal,   // the meters' progress
    Verbose,  // and each retry and presumed restart, with its reason
};

// Starts one job per meter of the board and waits for all of them, showing
// their progress: live lines on a terminal, plain lines every few seconds
// otherwise, nothing more than the events with JSON.
void runMeters(MeterBoard &board, const MeterJobSettings &settings, bool liveTerminal,
               Verbosity verbosity = Verbosity::Normal);
