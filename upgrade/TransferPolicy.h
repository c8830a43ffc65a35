#pragma once
#include "link/MeterLink.h"

// How an upgrade deals with a meter that answers late, refuses, or falls
// silent. The defaults are the window's road: every repeat is a person's
// Retry or OK, each answer has its 0.3 s, and nothing is waited for after.
struct TransferPolicy {
    static constexpr int kPersonDecides = -1;
    // How many times a refused or unanswered line, and an unacknowledged
    // switch, may be repeated; kPersonDecides: as often as the person at the
    // window answers Retry. The question is asked either way: it carries
    // whether another repeat is allowed, for a face that answers for itself.
    int mostRepeats = kPersonDecides;
    bool allowsRepeat(int failedAttempt) const { return mostRepeats < 0 || failedAttempt <= mostRepeats; }
    // After the last switch attempt went unacknowledged, how much longer a
    // slow meter has to say it switched; 0: no wait.
    double lateSwitchSeconds = 0;
    // Before every automatic repeat of a line or of the switch, let the line
    // settle, so that a late answer to the first attempt answers that attempt
    // and not the repeat. Off: the repeat goes out at once.
    bool settleBeforeRepeat = false;
    SettleTimes settle;
    // A line that went unanswered, stayed quiet through its settle, and whose
    // repeat was refused or unanswered too ends the transfer as a restart
    // (restartSuspected in the result); only with settleBeforeRepeat.
    bool suspectRestarts = false;
    // The end-of-file record's window: a meter may commit its image before it
    // answers. When it stays unanswered the meter is identified instead of
    // sent it again, and the version it reports decides. 0: the usual window.
    double endRecordSeconds = 0;
    // How long a meter that has just taken its image may take to answer in
    // normal mode again.
    double restartSeconds = 20;
    // Restart recovery: after a suspected restart the boot loader is looked
    // for again, for up to bootLoaderWaitSeconds, and the file sent again from
    // its start; at most mostRestarts times. A restarted meter keeps no
    // partial image, so only the whole file can complete. 0: no recovery.
    int mostRestarts = 0;
    double bootLoaderWaitSeconds = 10.0;
    // The line-quality stop, counted across presumed restarts: the transfer
    // ends when more than qualityMostRetried of the last qualityWindowLines
    // lines sent needed a repeat (once qualityGraceLines lines have gone),
    // when qualityMostRetries repeats (restarts included) were spent on
    // them, or after mostFruitlessRestarts presumed restarts in a row that
    // never got past the furthest line reached before. 0 lines: never.
    int qualityWindowLines = 0;
    int qualityMostRetried = 10;
    int qualityGraceLines = 20;
    int qualityMostRetries = 50;
    int mostFruitlessRestarts = 3;

    // Repeats of a line, and restarts, where nobody chose another number.
    static constexpr int kUnattendedRetries = 3;

    // The road for meters that nobody watches, the command line's, with
    // `retries` repeats of each line and of the switch, and as many restarts.
    static TransferPolicy unattended(int retries)
    {
        TransferPolicy p;
        p.mostRepeats = retries;
        p.lateSwitchSeconds = 1.0;
        p.settleBeforeRepeat = true;
        p.suspectRestarts = true;
        p.endRecordSeconds = 5.0;
        p.mostRestarts = retries;
        p.qualityWindowLines = 100;
        return p;
    }
};
