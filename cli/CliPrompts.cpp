#include "cli/CliPrompts.h"

CliPrompts::CliPrompts(const std::atomic<bool> &stop, Observer observer)
    : AnswersByKind([this](const QuestionFacts &facts) { return choose(facts); }), stop_(stop), observer_(std::move(observer))
{
}

// The run is handed its file checked already; a dialog is never answered.
std::optional<QString> CliPrompts::ShowOpen(const QString &, const QString &, const QString &)
{
    return std::nullopt;
}

MsgAnswer CliPrompts::decide(const QuestionFacts &facts, int attempt, MsgAnswer answer)
{
    if (observer_)
        observer_(facts, attempt, answer);
    return answer;
}

MsgAnswer CliPrompts::choose(const QuestionFacts &facts)
{
    const bool stopping = stop_.load();
    switch (facts.kind) {
    case QuestionKind::UpgradeWarning:
        return decide(facts, 0, stopping ? MsgAnswer::Cancel : MsgAnswer::OK);
    case QuestionKind::NotResponding: {
        const bool again = !stopping && facts.repeatAllowed;
        return decide(facts, facts.attempt, again ? MsgAnswer::OK : MsgAnswer::Cancel);
    }
    case QuestionKind::LineRefused: {
        const bool again = !stopping && facts.repeatAllowed;
        return decide(facts, facts.attempt, again ? MsgAnswer::Retry : MsgAnswer::Cancel);
    }
    case QuestionKind::UpgradeComplete:
    case QuestionKind::UnexpectedEnd:
    case QuestionKind::UpgradeError:
    case QuestionKind::PortOpenFailed:
    case QuestionKind::SessionSaveFailed:
    case QuestionKind::FileRefused:
        return decide(facts, 0, MsgAnswer::OK);
    case QuestionKind::NoMeterDetected:
        return decide(facts, 0, MsgAnswer::Abort);
    case QuestionKind::NoHardwareDetected:
        return decide(facts, 0, MsgAnswer::Cancel);
    }
    return decide(facts, 0, MsgAnswer::Cancel);
}
