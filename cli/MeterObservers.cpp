#include "cli/MeterObservers.h"
#include "cli/StopSignal.h"
#include "base/MonotonicClock.h"

namespace {
constexpr double kJsonProgressSeconds = 1.0;  // at most one progress event a second per meter
constexpr int kLineEndBytes = 1;               // each line goes out with a carriage return

// The question's kind as JSON and the transcript name it; a line the meter
// did not answer at all is told from one it refused.
QString kindName(const QuestionFacts &f)
{
    switch (f.kind) {
    case QuestionKind::UpgradeWarning: return QStringLiteral("warning");
    case QuestionKind::NotResponding: return QStringLiteral("not_responding");
    case QuestionKind::LineRefused:
        return f.reply == MeterReply::NoAnswer ? QStringLiteral("line_not_answered") : QStringLiteral("line_refused");
    case QuestionKind::UpgradeComplete:
    case QuestionKind::UnexpectedEnd:
    case QuestionKind::UpgradeError:
    case QuestionKind::FileRefused: return QStringLiteral("outcome");
    case QuestionKind::PortOpenFailed: return QStringLiteral("port_open_failed");
    case QuestionKind::NoMeterDetected:
    case QuestionKind::NoHardwareDetected:
    case QuestionKind::SessionSaveFailed: return QStringLiteral("unexpected");
    }
    return {};
}

// What was asked, in the command line's own words.
QString describe(const QuestionFacts &f)
{
    switch (f.kind) {
    case QuestionKind::UpgradeWarning: return QStringLiteral("switch the meter into its boot loader?");
    case QuestionKind::NotResponding: return QStringLiteral("the meter did not acknowledge the switch");
    case QuestionKind::LineRefused:
        return f.reply == MeterReply::NoAnswer ? QStringLiteral("line %1 was not answered").arg(f.line)
                                               : QStringLiteral("line %1 was refused").arg(f.line);
    case QuestionKind::UpgradeComplete: return QStringLiteral("upgrade complete");
    case QuestionKind::UnexpectedEnd: return QStringLiteral("unexpected end of file");
    case QuestionKind::UpgradeError: return QStringLiteral("error %1").arg(f.errorNumber);
    case QuestionKind::PortOpenFailed: return QStringLiteral("port %1 could not be opened").arg(f.port);
    case QuestionKind::NoMeterDetected: return QStringLiteral("no meter detected");
    case QuestionKind::NoHardwareDetected: return QStringLiteral("no boot loader detected");
    case QuestionKind::SessionSaveFailed: return QStringLiteral("session file not saved");
    case QuestionKind::FileRefused: return QStringLiteral("the file failed its check");
    }
    return {};
}

QString answerName(MsgAnswer a)
{
    switch (a) {
    case MsgAnswer::OK: return QStringLiteral("ok");
    case MsgAnswer::Cancel: return QStringLiteral("cancel");
    case MsgAnswer::Abort: return QStringLiteral("abort");
    case MsgAnswer::Retry: return QStringLiteral("retry");
    case MsgAnswer::Ignore: return QStringLiteral("ignore");
    }
    return {};
}
}

void DecisionObserver::operator()(const QuestionFacts &facts, int attempt, MsgAnswer answer) const
{
    const bool refusal = facts.kind == QuestionKind::LineRefused;
    const bool retry = (facts.kind == QuestionKind::NotResponding && answer == MsgAnswer::OK) ||
                       (refusal && answer == MsgAnswer::Retry);
    if (retry)
        board.update(index, [](MeterStatus &s) { ++s.retries; });
    const QString text = describe(facts);
    port.note(QStringLiteral("%1 (attempt %2): %3 -> %4")
                  .arg(kindName(facts))
                  .arg(attempt)
                  .arg(text, answerName(answer)));
    const bool windowOnly = facts.kind == QuestionKind::NoMeterDetected ||
                            facts.kind == QuestionKind::NoHardwareDetected ||
                            facts.kind == QuestionKind::SessionSaveFailed;
    if (facts.kind == QuestionKind::NotResponding || refusal)
        board.say(index, QStringLiteral("%1 (attempt %2); %3")
                             .arg(text)
                             .arg(attempt)
                             .arg(retry ? QStringLiteral("trying again") : QStringLiteral("no more attempts")));
    if (facts.kind == QuestionKind::NotResponding || refusal || windowOnly) {
        board.event(index, retry ? QStringLiteral("retry") : QStringLiteral("gave_up"),
                    {{QStringLiteral("kind"), kindName(facts)},
                     {QStringLiteral("line"), refusal ? facts.line : 0},
                     {QStringLiteral("attempt"), attempt},
                     {QStringLiteral("text"), text}});
    }
}

// The link names the port by its number; a meter named by its device has none.
void CliLinkEvents::portChecking(int)
{
    port_.note(QStringLiteral("identifying the meter on %1").arg(meter_.displayName()));
}

void CliLinkEvents::bootPortChecking(int)
{
    port_.note(QStringLiteral("probing %1 for a boot loader").arg(meter_.displayName()));
}

void CliUpgradeEvents::versionAnnounced(const QString &versionText)
{
    board_.event(index_, QStringLiteral("version"), {{QStringLiteral("version"), versionText}});
}

void CliUpgradeEvents::progressShown(const UpgradeProgress &)
{
    board_.update(index_, [](MeterStatus &s) {
        s.phase = QStringLiteral("sending");
        s.transferStartedAt = MonotonicClock::now();
    });
    board_.event(index_, QStringLiteral("transfer_started"), {{QStringLiteral("total_lines"), board_.at(index_).totalLines}});
}

void CliUpgradeEvents::progressAdvanced(const UpgradeProgress &progress)
{
    // The line just counted goes out next: the ones before it were accepted.
    wireBytesBefore_ = wireBytesRead_;
    wireBytesRead_ = progress.bytesRead + progress.linesRead * kLineEndBytes;
    linesRead_ = progress.linesRead;
    // Only the counts change line by line: nothing else of the status is copied.
    const qint64 lines = progress.linesRead - 1;
    qint64 totalLines = 0;
    board_.update(index_, [&](MeterStatus &s) {
        s.lines = lines;
        s.bytes = wireBytesBefore_;
        totalLines = s.totalLines;
    });
    if (!board_.json())
        return;
    const double t = MonotonicClock::now();
    if (t - lastJsonAt_ >= kJsonProgressSeconds) {
        lastJsonAt_ = t;
        board_.event(index_, QStringLiteral("progress"),
                     {{QStringLiteral("lines"), lines},
                      {QStringLiteral("total_lines"), totalLines},
                      {QStringLiteral("bytes"), wireBytesBefore_}});
    }
}

bool CliUpgradeEvents::stopRequested()
{
    return StopSignal::requested();
}
