#pragma once
#include <QtGlobal>
#include <deque>

struct TransferPolicy;

// How the line has fared lately, counted across presumed restarts (a file
// sent again from its start counts its lines again, and the restart as a
// retry): which of the last lines sent needed a repeat, how many repeats
// they took, and whether restarts get any further. It says when going on is
// hopeless; a policy whose window is 0 lines never stops.
class LineQuality {
public:
    enum class Verdict {
        GoOn,
        LinesRetried,       // too many of the last lines needed a repeat
        RetriesSpent,       // too many repeats spent on the last lines
        RestartsFruitless,  // restart after restart, never past the furthest line
    };

    explicit LineQuality(const TransferPolicy &policy);

    // A line goes out for the first time (in this attempt at the file).
    void lineSent();
    // The line just sent failed; `firstFailure`: its first attempt did.
    Verdict failed(bool firstFailure);
    // The meter was presumed to restart at `line`.
    Verdict restarted(qint64 line);

    int linesRetried() const { return static_cast<int>(retriedLines_.size()); }
    int retriesSpent() const { return static_cast<int>(retries_.size()); }
    int fruitlessRestarts() const { return fruitlessRestarts_; }
    qint64 furthestLine() const { return furthestLine_; }

private:
    void forgetOld();

    const TransferPolicy &policy_;
    qint64 sent_ = 0;                 // lines sent, restarts included
    std::deque<qint64> retriedLines_;  // of the window: the lines that needed a repeat
    std::deque<qint64> retries_;       // of the window: one per repeat or restart
    qint64 furthestLine_ = 0;
    int fruitlessRestarts_ = 0;
};
