#pragma once
#include "base/Prompts.h"
#include <QString>
#include <atomic>
#include <deque>
#include <functional>

// The answers the command line gives the upgrade in place of a person: the
// file named on the command line, OK to the warning, a bounded number of
// retries when the meter does not answer or refuses a line, and Cancel to
// everything once a stop is requested. Answers are chosen by the question's
// kind and numbers alone.
class CliPrompts : public AnswersByKind {
public:
    // Told of every answer: what was asked, the attempt (for retries), the answer.
    using Observer = std::function<void(const QuestionFacts &, int attempt, MsgAnswer answer)>;

    CliPrompts(QString filePath, int retries, const std::atomic<bool> &stop, Observer observer);

    std::optional<QString> ShowOpen(const QString &dialogTitle, const QString &filter,
                                    const QString &initialFileName) override;

    int retryLimit() const { return retryLimit_; }

    // The transfer was cancelled because too many lines needed a retry.
    bool lineQualityStopped() const { return lineQualityStopped_; }
    int linesRetriedRecently() const { return static_cast<int>(retriedLines_.size()); }
    // The file is about to be sent again from its start.
    void startAgain();

    static constexpr int kQualityWindowLines = 100;  // the last lines judged
    static constexpr int kQualityMostRetried = 10;   // more of them retried: stop
    static constexpr int kQualityGraceLines = 20;    // judged once this many have gone

private:
    MsgAnswer choose(const QuestionFacts &facts);
    MsgAnswer decide(const QuestionFacts &facts, int attempt, MsgAnswer answer);
    MsgAnswer lineRefused(const QuestionFacts &facts, bool stopping);

    QString filePath_;
    int retryLimit_;
    const std::atomic<bool> &stop_;
    Observer observer_;
    int notResponding_ = 0;
    qint64 refusedLine_ = 0;  // the line the refusals below count for
    int lineRefusals_ = 0;
    bool lineQualityStopped_ = false;
    std::deque<qint64> retriedLines_;  // lines of the window that needed a retry
};
