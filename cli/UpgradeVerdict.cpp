#include "cli/UpgradeVerdict.h"
#include "upgrade/TransferPolicy.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeRun.h"

namespace {

UpgradeVerdict failed(const QString &message)
{
    return {MeterResult::Failed, message, false};
}

// A stop turns a failure that it caused into an interruption.
UpgradeVerdict failedUnlessStopped(bool stopped, const QString &whenStopped, const QString &otherwise)
{
    return stopped ? UpgradeVerdict{MeterResult::Interrupted, whenStopped, false} : failed(otherwise);
}

// Why a meter that fell silent could not be recovered, or empty.
QString recoveryFailure(const UpgradeResult &result, const TransferPolicy &policy)
{
    switch (result.recovery) {
    case UpgradeResult::Recovery::None: return {};
    case UpgradeResult::Recovery::BootLoaderSilent:
        return QStringLiteral("the meter fell silent at line %1 and its boot loader did not answer within %2 s")
            .arg(result.refusedLine)
            .arg(policy.bootLoaderWaitSeconds);
    case UpgradeResult::Recovery::RestartsSpent:
        // Silence is all that was seen: each restart is presumed, not known.
        return QStringLiteral("the meter fell silent at line %1 after %2 presumed restarts "
                              "(--retries %3 allows no more)")
            .arg(result.refusedLine)
            .arg(result.restarts)
            .arg(policy.mostRestarts);
    }
    return {};
}

// Why the line-quality stop ended the transfer.
QString lineQualityFailure(const UpgradeResult &result, const TransferPolicy &policy)
{
    switch (result.qualityStop) {
    case LineQuality::Verdict::RetriesSpent:
        return QStringLiteral("line quality: %1 retries spent on the last %2 lines sent (stopped at line %3)")
            .arg(result.retriesRecently)
            .arg(policy.qualityWindowLines)
            .arg(result.refusedLine);
    case LineQuality::Verdict::RestartsFruitless:
        return QStringLiteral("line quality: %1 presumed restarts in a row, none past line %2 (stopped at line %3)")
            .arg(result.fruitlessRestarts)
            .arg(result.furthestLine)
            .arg(result.refusedLine);
    case LineQuality::Verdict::LinesRetried:
    case LineQuality::Verdict::GoOn: break;
    }
    return QStringLiteral("line quality: %1 of the last %2 lines needed a retry (stopped at line %3)")
        .arg(result.linesRetriedRecently)
        .arg(policy.qualityWindowLines)
        .arg(result.refusedLine);
}

UpgradeVerdict unexpectedEnd(const UpgradeResult &result, const TransferPolicy &policy, const QString &stoppedAfter,
                             bool stopped)
{
    if (stopped)
        return {MeterResult::Interrupted, stoppedAfter, false};
    if (result.refusedLine <= 0)
        return failed(QStringLiteral("the file ended without the end-of-file record accepted last"));
    return failed((result.refusal == MeterReply::NoAnswer ? QStringLiteral("line %1 not answered %2 times")
                                                          : QStringLiteral("line %1 refused %2 times"))
                      .arg(result.refusedLine)
                      .arg(policy.mostRepeats + 1));
}

}

UpgradeVerdict upgradeVerdict(const UpgradeResult &result, const TransferPolicy &policy, const VerdictFacts &facts)
{
    const bool stopped = facts.stopped;
    const QString notRecovered = recoveryFailure(result, policy);
    if (!notRecovered.isEmpty() && !stopped)
        return failed(notRecovered);
    if (result.lineQualityStopped && !stopped)
        return failed(lineQualityFailure(result, policy));
    const QString stoppedAfter = QStringLiteral("stopped after line %1").arg(result.linesAccepted);
    switch (result.outcome) {
    case UpgradeOutcome::Completed:
        if (!result.endAnswered)
            return {MeterResult::Completed,
                    QStringLiteral("upgrade complete, verified: the end record went unanswered, then the meter "
                                   "reported firmware %1")
                        .arg(result.versionAfter),
                    false};
        if (facts.verifyAsked)
            return {MeterResult::Completed, QString(), true};
        return {MeterResult::Completed, QStringLiteral("upgrade complete"), false};
    case UpgradeOutcome::Stopped: return {MeterResult::Interrupted, stoppedAfter, false};
    case UpgradeOutcome::UnexpectedEnd: return unexpectedEnd(result, policy, stoppedAfter, stopped);
    case UpgradeOutcome::Declined:
        return failedUnlessStopped(stopped, QStringLiteral("stopped before the boot loader"),
                                   QStringLiteral("the switch was declined"));
    case UpgradeOutcome::NotSwitched:
        return failedUnlessStopped(stopped,
                                   QStringLiteral("stopped while the switch to the boot loader went unacknowledged"),
                                   QStringLiteral("the meter did not acknowledge the switch to its boot loader, "
                                                  "even late; it may be in it"));
    case UpgradeOutcome::FileRefused:
        return failed(result.fault.line > 0 ? QStringLiteral("the file failed its check: line %1: %2")
                                                  .arg(result.fault.line)
                                                  .arg(result.fault.description)
                                            : QStringLiteral("the file failed its check: %1").arg(result.fault.description));
    case UpgradeOutcome::Failed:
        return failed(QStringLiteral("%1: %2").arg(result.errorNumber).arg(result.errorDescription));
    case UpgradeOutcome::EndUnconfirmed: {
        const QString why =
            result.versionAfter.isEmpty()
                ? QStringLiteral("end record unconfirmed: no answer to it, and the meter did not answer in "
                                 "normal mode after it")
                : QStringLiteral("end record unconfirmed: no answer to it, and the meter then reported "
                                 "firmware %1, the file gives %2")
                      .arg(result.versionAfter, UpgradeFile::asMeterWrites(facts.targetVersion));
        return failedUnlessStopped(stopped, QStringLiteral("stopped; ") + why, why);
    }
    }
    return failed(QStringLiteral("unknown outcome"));
}

UpgradeVerdict verifiedVerdict(bool found, const QString &firmwareAfter, const QString &targetVersion)
{
    if (found && UpgradeFile::sameVersion(firmwareAfter, targetVersion))
        return {MeterResult::Completed, QStringLiteral("upgrade complete, verified: firmware %1").arg(firmwareAfter),
                false};
    return failed(found ? QStringLiteral("not verified: the meter restarted with firmware %1, the file gives %2")
                              .arg(firmwareAfter, UpgradeFile::asMeterWrites(targetVersion))
                        : QStringLiteral("not verified: the meter did not answer after the upgrade"));
}
