#include "cli/CliPrompts.h"

namespace {
// The beginnings of the texts the upgrade asks or reports.
const QString kWarning = QStringLiteral("Warning!");
const QString kNotResponding = QStringLiteral("Hardware not responding");
const QString kErrorSending = QStringLiteral("Error sending ");
const QString kComplete = QStringLiteral("Upgrade Complete.");
const QString kUnexpectedEnd = QStringLiteral("Unexpected end of file");
const QString kFileError = QStringLiteral(" File Error:");
const QString kOpenError = QStringLiteral("Error Opening Comm");
}

CliPrompts::CliPrompts(QString filePath, int retries, const std::atomic<bool> &stop, Observer observer)
    : filePath_(std::move(filePath)), retryLimit_(retries), stop_(stop), observer_(std::move(observer))
{
}

std::optional<QString> CliPrompts::ShowOpen(const QString &, const QString &, const QString &)
{
    return filePath_;
}

MsgAnswer CliPrompts::decide(Decision d, const QString &text, int attempt, MsgAnswer answer)
{
    if (observer_)
        observer_(d, text, attempt, answer);
    return answer;
}

MsgAnswer CliPrompts::MsgBox(const QString &text, int style, const QString &)
{
    const bool stopping = stop_.load();
    if (text.startsWith(kWarning))
        return decide(Decision::Warning, text, 0, stopping ? MsgAnswer::Cancel : MsgAnswer::OK);
    if (text.startsWith(kNotResponding)) {
        ++notResponding_;
        const bool again = !stopping && notResponding_ <= retryLimit_;
        if (again)
            ++retries_;
        return decide(Decision::NotResponding, text, notResponding_, again ? MsgAnswer::OK : MsgAnswer::Cancel);
    }
    if (text.startsWith(kErrorSending)) {
        ++lineRefusals_;
        const bool again = !stopping && lineRefusals_ <= retryLimit_;
        if (again)
            ++retries_;
        else
            gaveUpOnLine_ = !stopping;
        return decide(Decision::LineRefused, text, lineRefusals_, again ? MsgAnswer::Retry : MsgAnswer::Cancel);
    }
    if (text.startsWith(kComplete) || text.startsWith(kUnexpectedEnd) || text.startsWith(kFileError)) {
        outcome_ = text.simplified();
        return decide(Decision::Outcome, outcome_, 0, MsgAnswer::OK);
    }
    if (text.startsWith(kOpenError)) {
        portOpenFailed_ = true;
        outcome_ = text.simplified();
        return decide(Decision::PortOpenFailed, outcome_, 0, MsgAnswer::OK);
    }
    // Nothing else is expected; take the safe way out where there is one.
    const bool okOnly = (style & MsgStyle::ButtonsMask) == MsgStyle::OkOnly;
    return decide(Decision::Unexpected, text.simplified(), 0, okOnly ? MsgAnswer::OK : MsgAnswer::Cancel);
}
