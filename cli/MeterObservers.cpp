#include "cli/MeterObservers.h"
#include "cli/StopSignal.h"
#include "base/MonotonicClock.h"
#include "cli/TranscriptCommPort.h"

namespace {
constexpr double kJsonProgressSeconds = 1.0;  // at most one progress event a second per meter
constexpr int kLineEndBytes = 1;               // each line goes out with a carriage return

QString decisionName(CliPrompts::Decision d)
{
    switch (d) {
    case CliPrompts::Decision::Warning: return QStringLiteral("warning");
    case CliPrompts::Decision::NotResponding: return QStringLiteral("not_responding");
    case CliPrompts::Decision::LineRefused: return QStringLiteral("line_refused");
    case CliPrompts::Decision::Outcome: return QStringLiteral("outcome");
    case CliPrompts::Decision::PortOpenFailed: return QStringLiteral("port_open_failed");
    case CliPrompts::Decision::Unexpected: return QStringLiteral("unexpected");
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

void DecisionObserver::operator()(CliPrompts::Decision d, const QString &text, int attempt, MsgAnswer answer) const
{
    const bool retry = (d == CliPrompts::Decision::NotResponding && answer == MsgAnswer::OK) ||
                       (d == CliPrompts::Decision::LineRefused && answer == MsgAnswer::Retry);
    if (retry)
        board.update(index, [](MeterStatus &s) { ++s.retries; });
    const QString shown = text.simplified().left(120);
    port.note(QStringLiteral("%1 (attempt %2): \"%3\" -> %4")
                  .arg(decisionName(d))
                  .arg(attempt)
                  .arg(shown, answerName(answer)));
    if (d == CliPrompts::Decision::NotResponding || d == CliPrompts::Decision::LineRefused ||
        d == CliPrompts::Decision::Unexpected) {
        const qint64 line = board.at(index).lines + 1;
        board.event(index, retry ? QStringLiteral("retry") : QStringLiteral("gave_up"),
                    {{QStringLiteral("kind"), decisionName(d)},
                     {QStringLiteral("line"), d == CliPrompts::Decision::LineRefused ? line : 0},
                     {QStringLiteral("attempt"), attempt},
                     {QStringLiteral("text"), shown}});
    }
}

void CliLinkEvents::portChecking(int portNumber)
{
    port_.note(QStringLiteral("identifying the meter on port %1").arg(portNumber));
}

void CliLinkEvents::bootPortChecking(int portNumber)
{
    port_.note(QStringLiteral("probing port %1 for a boot loader").arg(portNumber));
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
    prompts_.lineStarted();
    wireBytesBefore_ = wireBytesRead_;
    wireBytesRead_ = progress.bytesRead + progress.linesRead * kLineEndBytes;
    linesRead_ = progress.linesRead;
    MeterStatus now;
    board_.update(index_, [&](MeterStatus &s) {
        s.lines = progress.linesRead - 1;
        s.bytes = wireBytesBefore_;
        now = s;
    });
    const double t = MonotonicClock::now();
    if (t - lastJsonAt_ >= kJsonProgressSeconds) {
        lastJsonAt_ = t;
        board_.event(index_, QStringLiteral("progress"),
                     {{QStringLiteral("lines"), now.lines},
                      {QStringLiteral("total_lines"), now.totalLines},
                      {QStringLiteral("bytes"), now.bytes}});
    }
}

bool CliUpgradeEvents::stopRequested()
{
    return StopSignal::requested();
}
