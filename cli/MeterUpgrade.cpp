#include "cli/MeterUpgrade.h"
#include "cli/CliPrompts.h"
#include "cli/MeterReporter.h"
#include "cli/StopSignal.h"
#include "base/EventWait.h"
#include "link/MeterLink.h"
#include "upgrade/BootLoaderState.h"
#include "upgrade/TransferPolicy.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeRun.h"

namespace {
// A pulled adapter fails its port a moment before its link is removed.
constexpr double kLinkRemovalSeconds = 0.3;

// Whether the upgrade failed because its meter was pulled from its socket.
bool removedDuring(const UpgradePlan &plan, const UpgradeResult &result)
{
    if (!plan.linkLost)
        return false;
    if (!plan.linkLost() && result.outcome == UpgradeOutcome::Failed)
        EventWait::sleepFor(kLinkRemovalSeconds);
    return plan.linkLost();
}

// The meter restarts into its new firmware: it is identified again (as often
// as it takes, for a while) and its firmware version compared with the file's.
// Only the meter that was upgraded counts: another serial in its place means
// it was taken away. A meter that answers only as a boot loader afterwards
// never started its new firmware, and is said to be left in its boot loader.
UpgradeVerdict verified(MeterLink &link, MeterReporter &report, const UpgradePlan &plan)
{
    report.phase(QStringLiteral("verifying"));
    MeterState &state = link.meter();
    const QString serial = state.Meter_Serial;
    state.Boot_Mode = false;
    state.Firm_Version.clear();
    const auto lost = [&] { return plan.linkLost && plan.linkLost(); };
    const bool found =
        link.identifyWithin(TransferPolicy{}.restartSeconds, [&] { return StopSignal::requested() || lost(); });
    const bool another = found && !serial.isEmpty() && state.Meter_Serial != serial;
    if (another || (!found && lost())) {
        report.verified({}, false, std::nullopt);
        return {MeterResult::Failed,
                another ? QStringLiteral("not verified: removed; meter %1 answers in its place").arg(state.Meter_Serial)
                        : QStringLiteral("not verified: removed during the verification"),
                false};
    }
    if (!found && StopSignal::requested()) {
        report.verified({}, false, std::nullopt);
        return {MeterResult::Interrupted, QStringLiteral("verification stopped"), false};
    }
    const bool bootLoaderAnswers = !found && state.lastReply.contains("FAIL");
    const std::optional<bool> left = found ? std::optional<bool>(false)
                                     : bootLoaderAnswers ? std::optional<bool>(true)
                                                         : std::nullopt;
    const QString after = found ? state.Firm_Version : QString();
    UpgradeVerdict verdict = verifiedVerdict(found, after, plan.targetVersion);
    if (bootLoaderAnswers)
        verdict.message = QStringLiteral("not verified: the meter answers only as a boot loader after the upgrade");
    report.verified(after, verdict.result == MeterResult::Completed, left);
    return verdict;
}
}

UpgradeVerdict upgradeIdentifiedMeter(MeterLink &link, CliPrompts &prompts, MeterReporter &report,
                                      const UpgradePlan &plan)
{
    // As the window does between Connect and Upgrade.
    link.Com_Close();
    link.Com_Open();
    report.phase(QStringLiteral("boot loader"));

    const FileFacts facts = plan.checked->facts();  // the events hold on to it
    ReportedUpgradeEvents events(report, link.meter(), facts);
    UpgradeRun run(link, prompts, events);
    const TransferPolicy policy = TransferPolicy::unattended(plan.retries);
    run.setPolicy(policy);
    run.setFileRules({plan.checkContent, plan.modelGuard});
    report.mayBeInBootLoader(true);  // from the switch command on
    const UpgradeResult result = run.run(plan.checked);
    report.upgradeEnded(link.meter(), result, plan.filePath, leftInBootLoader(link.meter(), result));
    if (result.outcome != UpgradeOutcome::Completed && !StopSignal::requested() && removedDuring(plan, result)) {
        report.removed(result.linesAccepted);
        return {MeterResult::Failed, QStringLiteral("removed at line %1").arg(result.linesAccepted), false};
    }
    const UpgradeVerdict verdict =
        upgradeVerdict(result, policy, {StopSignal::requested(), plan.verify, plan.targetVersion});
    return verdict.verifyNext ? verified(link, report, plan) : verdict;
}
