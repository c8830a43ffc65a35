// The transfer: the file sent line by line, each line acknowledged,
// repeated or ended as the policy and the user say, and the outcome judged.
#include "upgrade/UpgradeRun.h"
#include "base/Prompts.h"
#include "link/MeterLink.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeFile.h"

void UpgradeRun::transfer()
{
    link_.Com_Open();
    reader_ = checked_->reader();
    UpgradeFile &file = *reader_;
    UpgradeProgress progress = UpgradeProgress::forFileSize(file.size());
    events_.progressShown(progress);

    bool abort = false, stopped = false;
    QByteArray line;  // the last line read
    while (!file.atEnd() && !abort) {
        if (events_.stopRequested()) {
            stopped = true;
            break;
        }
        line = file.readLine();
        progress.advance(line.size(), UpgradeFile::lineEndChars(file.lastLineEnd()));
        events_.progressAdvanced(progress);
        link_.serveEvents();
        quality_->lineSent();
        abort = !sendLine(line, progress.linesRead);
        if (!abort && result_.endAnswered)
            result_.linesAccepted = progress.linesRead;
    }

    events_.headingRestored();
    file.close();
    if (stopped) {
        events_.progressHidden();
        result_.outcome = UpgradeOutcome::Stopped;
        return;
    }
    // A line the meter refused is not complete, even when it is the end record;
    // an end record nobody answered is complete when the meter now reports
    // the file's version.
    bool complete = !abort && UpgradeFile::isEndRecord(line);
    if (complete && !result_.endAnswered) {
        complete = meterReportsFileVersion();
        if (complete)
            result_.linesAccepted = progress.linesRead;
    }
    prompts_.MsgBox(complete ? Questions::upgradeComplete() : Questions::unexpectedEnd());
    events_.progressHidden();
    if (complete)
        result_.outcome = UpgradeOutcome::Completed;
    else
        result_.outcome = result_.endAnswered ? UpgradeOutcome::UnexpectedEnd : UpgradeOutcome::EndUnconfirmed;
}

// The end record went unanswered: the meter may have taken its image and
// restarted, or may still wait in its boot loader. Only the version it
// reports in normal mode tells, and the file is never sent again.
bool UpgradeRun::meterReportsFileVersion()
{
    if (!link_.identifyWithin(policy_.restartSeconds, [this] { return events_.stopRequested(); }))
        return false;
    MeterState &meter = link_.meter();
    result_.versionAfter = meter.Firm_Version;
    meter.Boot_Mode = false;
    return UpgradeFile::sameVersion(meter.Firm_Version, checked_->versionText());
}

bool UpgradeRun::sendLine(const QByteArray &line, qint64 lineNumber)
{
    const bool endRecord = policy_.endRecordSeconds > 0 && UpgradeFile::isEndRecord(line);
    const double window = endRecord ? policy_.endRecordSeconds : MeterLink::kAcknowledgeSeconds;
    bool silentBefore = false;  // the last attempt went unanswered and the line stayed quiet
    for (int attempt = 1;; ++attempt) {
        const MeterReply reply = link_.sendLine(line, window);
        if (reply == MeterReply::Accepted)
            return true;
        if (endRecord && reply == MeterReply::NoAnswer) {
            result_.endAnswered = false;  // the meter's version decides; no repeat
            return true;
        }
        if (policy_.settleBeforeRepeat) {
            const MeterReply late = link_.settle(policy_.settle);
            if (late == MeterReply::Accepted) {
                ++result_.answeredLate;
                return true;
            }
            if (policy_.suspectRestarts && silentBefore) {
                result_.restartSuspected = true;
                return endedOn(lineNumber, reply);
            }
            silentBefore = reply == MeterReply::NoAnswer && late == MeterReply::NoAnswer;
        }
        if (qualityStops(quality_->failed(attempt == 1), result_))
            return endedOn(lineNumber, reply);
        Question question = Questions::lineRefused(lineNumber, line, reply, attempt);
        question.facts.repeatAllowed = policy_.allowsRepeat(attempt);
        if (prompts_.MsgBox(question) != MsgAnswer::Retry)
            return endedOn(lineNumber, reply);
        ++result_.retries;
    }
}

// The transfer ends on a line the meter did not take: which, and how it
// last answered.
bool UpgradeRun::endedOn(qint64 lineNumber, MeterReply reply)
{
    result_.refusedLine = lineNumber;
    result_.refusal = reply;
    return false;
}

bool UpgradeRun::qualityStops(LineQuality::Verdict verdict, UpgradeResult &result) const
{
    if (verdict == LineQuality::Verdict::GoOn)
        return false;
    result.lineQualityStopped = true;
    result.qualityStop = verdict;
    result.linesRetriedRecently = quality_->linesRetried();
    result.retriesRecently = quality_->retriesSpent();
    result.fruitlessRestarts = quality_->fruitlessRestarts();
    result.furthestLine = quality_->furthestLine();
    return true;
}
