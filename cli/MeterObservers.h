#pragma once
#include "cli/CliPrompts.h"
#include "cli/MeterBoard.h"
#include "link/MeterLink.h"
#include "link/TranscriptCommPort.h"
#include "upgrade/UpgradeRun.h"

// Each answer the prompts give, into the transcript, the board and JSON.
struct DecisionObserver {
    MeterBoard &board;
    int index;
    TranscriptCommPort &port;
    void operator()(const QuestionFacts &facts, int attempt, MsgAnswer answer) const;
};

// What the meter link reports, into the transcript.
class CliLinkEvents : public LinkEvents {
public:
    CliLinkEvents(TranscriptCommPort &port, const MeterAddress &meter) : port_(port), meter_(meter) {}
    void portChecking(int portNumber) override;
    void bootPortChecking(int portNumber) override;

private:
    TranscriptCommPort &port_;
    MeterAddress meter_;
};

// The transfer's progress, onto the board and (now and then) into JSON.
class CliUpgradeEvents : public UpgradeEvents {
public:
    CliUpgradeEvents(MeterBoard &board, int index) : board_(board), index_(index) {}
    void versionAnnounced(const QString &versionText) override;
    void progressShown(const UpgradeProgress &progress) override;
    void progressAdvanced(const UpgradeProgress &progress) override;
    bool stopRequested() override;
    qint64 linesRead() const { return linesRead_; }

private:
    MeterBoard &board_;
    int index_;
    qint64 linesRead_ = 0;
    qint64 wireBytesBefore_ = 0;  // sent up to the line now going out
    qint64 wireBytesRead_ = 0;
    double lastJsonAt_ = 0;
};
