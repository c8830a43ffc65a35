#pragma once
#include "cli/MeterBoard.h"
#include "cli/MeterObservers.h"
#include <QString>
#include <optional>

class AttemptRecorder;
struct FileFacts;
class TranscriptCommPort;
struct MeterState;
struct UpgradeResult;

// Where everything one meter's job learns goes: the board (and so the live
// lines and the summary), the transcript, the JSON events, the history, and
// the note a second signal would print. The job decides; this only tells.
class MeterReporter {
public:
    MeterReporter(MeterBoard &board, int index, TranscriptCommPort &transcript, QString logDir);

    MeterBoard &board() { return board_; }
    int index() const { return index_; }
    const MeterAddress &address() const { return board_.addressOf(index_); }
    TranscriptCommPort &transcript() { return transcript_; }

    // The job begins: its clock starts, and its transcript when asked for.
    void started();
    void phase(const QString &name);
    // Into the transcript and, as the event `name`, into JSON.
    void note(const QString &text);
    void event(const QString &name, const QString &text);
    // The meter's identity is in `meter`: board, transcript (renamed after
    // the serial number), JSON.
    void identified(const MeterState &meter);
    void bootLoaderAnswered(bool noted);
    // Whether a second signal should name this meter as maybe in its boot
    // loader; nullopt, nobody knows, names it too.
    void mayBeInBootLoader(std::optional<bool> maybe);
    // The history the upgrade's rows go into, from now on.
    void recordInto(AttemptRecorder &history) { history_ = &history; }
    // A meter reached but not touched: its row, and its result (failed,
    // unless said otherwise).
    void notTouched(const MeterState &meter, const QString &filePath, const QString &outcome,
                    const QString &message, MeterResult result = MeterResult::Failed);
    // The upgrade has ended: its row completed, its counts onto the board.
    void upgradeEnded(const MeterState &meter, const UpgradeResult &result, const QString &filePath,
                      std::optional<bool> leftInBootLoader);
    // What the meter named when identified after the upgrade, into its row,
    // with whether that leaves it in its boot loader.
    void verified(const QString &firmwareAfter, bool matches, std::optional<bool> leftInBootLoader);
    // The meter was pulled from its socket before its attempt ended.
    void removed(qint64 line);
    AttemptRecorder *history() { return history_; }

    // The meter's result: board, transcript, JSON.
    void finish(MeterResult result, const QString &message);

private:
    bool nameTranscript(const QString &serial);

    MeterBoard &board_;
    int index_;
    TranscriptCommPort &transcript_;
    QString logDir_;
    QString startedStamp_;  // local time the job began, for the transcript's name
    AttemptRecorder *history_ = nullptr;
};

// The upgrade's events, told through the meter's reporter: progress, the
// history's row when the meter is first changed, and a meter that restarted.
// `file` is the file's facts as the plan made them once, for every meter.
class ReportedUpgradeEvents : public CliUpgradeEvents {
public:
    ReportedUpgradeEvents(MeterReporter &reporter, const MeterState &meter, const FileFacts &file);
    void restartSuspected(qint64 line) override;
    void bootLoaderFoundAgain() override;
    void meterChanging(const QString &filePath, const UpgradeImage &checked) override;
    void progressAdvanced(const UpgradeProgress &progress) override;

private:
    MeterReporter &reporter_;
    const MeterState &meter_;
    const FileFacts &file_;
};
