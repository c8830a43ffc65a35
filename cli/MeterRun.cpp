#include "cli/MeterRun.h"
#include "base/MonotonicClock.h"
#include "cli/Console.h"
#include "cli/MeterOutput.h"
#include "cli/StopSignal.h"
#include <QDeadlineTimer>
#include <memory>
#include <vector>

namespace {
constexpr int kLiveRefreshMs = 250;          // live lines on a terminal
constexpr double kPlainProgressSeconds = 5;  // plain progress lines otherwise
}

void runMeters(MeterBoard &board, const MeterJobSettings &settings, bool liveTerminal, Verbosity verbosity)
{
    board.tellAlong(verbosity == Verbosity::Verbose);
    const bool quiet = verbosity == Verbosity::Quiet;
    liveTerminal = liveTerminal && !quiet && !board.json();
    std::vector<std::unique_ptr<MeterJob>> jobs;
    for (int i = 0; i < board.size(); ++i) {
        jobs.push_back(std::make_unique<MeterJob>(i, settings, board));
        jobs.back()->start();
    }
    const bool plain = !liveTerminal && !board.json() && !quiet;
    bool stopAnnounced = false;
    int linesShown = 0;
    double nextPlainAt = MonotonicClock::now() + kPlainProgressSeconds;
    for (std::size_t waiting = 0; waiting < jobs.size();) {
        if (jobs[waiting]->wait(QDeadlineTimer(kLiveRefreshMs))) {
            ++waiting;
            continue;
        }
        if (StopSignal::requested() && !stopAnnounced) {
            stopAnnounced = true;
            Console::err(QStringLiteral("\nStopping: each meter finishes the line in flight.\n"));
            linesShown = 0;
        }
        const double now = MonotonicClock::now();
        const QStringList said = board.takeSaid();
        if (liveTerminal) {
            Console::out(MeterOutput::liveLines(board, linesShown, said));
            linesShown = board.size();
        } else if (!said.isEmpty()) {
            Console::out(said.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        }
        if (plain && now >= nextPlainAt) {
            nextPlainAt = now + kPlainProgressSeconds;
            for (const MeterStatus &s : board.all())
                Console::out(MeterOutput::progressLine(s, now) + QLatin1Char('\n'));
        }
    }
    const QStringList said = board.takeSaid();
    if (liveTerminal && linesShown > 0)
        Console::out(MeterOutput::liveLines(board, linesShown, said));
    else if (!said.isEmpty())
        Console::out(said.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}
