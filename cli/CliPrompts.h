#pragma once
#include "base/Prompts.h"
#include <QString>
#include <atomic>
#include <functional>

// The answers the command line gives the upgrade in place of a person: no
// file from a dialog (the run is handed its file), OK to the warning, a
// retry when the meter does not answer or refuses a line as long as the
// upgrade's rules allow one, and Cancel to everything once a stop is
// requested. Answers are chosen by the question's kind and numbers alone.
class CliPrompts : public AnswersByKind {
public:
    // Told of every answer: what was asked, the attempt (for retries), the answer.
    using Observer = std::function<void(const QuestionFacts &, int attempt, MsgAnswer answer)>;

    CliPrompts(const std::atomic<bool> &stop, Observer observer);

    std::optional<QString> ShowOpen(const QString &dialogTitle, const QString &filter,
                                    const QString &initialFileName) override;

private:
    MsgAnswer choose(const QuestionFacts &facts);
    MsgAnswer decide(const QuestionFacts &facts, int attempt, MsgAnswer answer);

    const std::atomic<bool> &stop_;
    Observer observer_;
};
