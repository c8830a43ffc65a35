#include "upgrade/LineQuality.h"
#include "upgrade/TransferPolicy.h"

LineQuality::LineQuality(const TransferPolicy &policy) : policy_(policy) {}

void LineQuality::lineSent()
{
    ++sent_;
    forgetOld();
}

void LineQuality::forgetOld()
{
    const qint64 oldest = sent_ - policy_.qualityWindowLines;
    while (!retriedLines_.empty() && retriedLines_.front() <= oldest)
        retriedLines_.pop_front();
    while (!retries_.empty() && retries_.front() <= oldest)
        retries_.pop_front();
}

LineQuality::Verdict LineQuality::failed(bool firstFailure)
{
    if (policy_.qualityWindowLines <= 0)
        return Verdict::GoOn;
    if (firstFailure)
        retriedLines_.push_back(sent_);
    retries_.push_back(sent_);
    if (sent_ >= policy_.qualityGraceLines && linesRetried() > policy_.qualityMostRetried)
        return Verdict::LinesRetried;
    if (retriesSpent() >= policy_.qualityMostRetries)
        return Verdict::RetriesSpent;
    return Verdict::GoOn;
}

LineQuality::Verdict LineQuality::restarted(qint64 line)
{
    if (policy_.qualityWindowLines <= 0)
        return Verdict::GoOn;
    retries_.push_back(sent_);
    if (line > furthestLine_) {
        furthestLine_ = line;
        fruitlessRestarts_ = 0;
    } else {
        ++fruitlessRestarts_;
    }
    if (fruitlessRestarts_ >= policy_.mostFruitlessRestarts)
        return Verdict::RestartsFruitless;
    if (retriesSpent() >= policy_.qualityMostRetries)
        return Verdict::RetriesSpent;
    return Verdict::GoOn;
}
