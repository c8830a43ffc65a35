#include "cli/MeterUpgrade.h"
#include "cli/CliPrompts.h"
#include "cli/MeterReporter.h"
#include "cli/StopSignal.h"
#include "link/MeterLink.h"
#include "upgrade/BootLoaderState.h"
#include "upgrade/TransferPolicy.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeRun.h"

namespace {
// The meter restarts into its new firmware: it is identified again (as often
// as it takes, for a while) and its firmware version compared with the file's.
UpgradeVerdict verified(MeterLink &link, MeterReporter &report, const QString &targetVersion)
{
    report.phase(QStringLiteral("verifying"));
    MeterState &g = link.meter();
    g.Boot_Mode = false;
    g.Firm_Version.clear();
    const bool found = link.identifyWithin(TransferPolicy{}.restartSeconds, [] { return StopSignal::requested(); });
    const QString after = found ? g.Firm_Version : QString();
    const UpgradeVerdict verdict = verifiedVerdict(found, after, targetVersion);
    report.verified(after, verdict.result == MeterResult::Completed);
    return verdict;
}
}

UpgradeVerdict upgradeIdentifiedMeter(MeterLink &link, CliPrompts &prompts, MeterReporter &report,
                                      const UpgradeChoice &choice)
{
    // As the window does between Connect and Upgrade.
    link.Com_Close();
    link.Com_Open();
    report.phase(QStringLiteral("boot loader"));

    UpgradeFile file;
    ReportedUpgradeEvents events(report, link.meter());
    UpgradeRun run(link, prompts, events, file);
    const TransferPolicy policy = TransferPolicy::unattended(choice.retries);
    run.setPolicy(policy);
    run.setFileRules({choice.checkContent, choice.modelGuard});
    report.mayBeInBootLoader(true);  // from the switch command on
    const UpgradeResult result = run.run(choice.checked);
    report.upgradeEnded(link.meter(), result, choice.filePath, leftInBootLoader(link.meter(), result));
    const UpgradeVerdict verdict =
        upgradeVerdict(result, policy, {StopSignal::requested(), choice.verify, choice.targetVersion});
    return verdict.verifyNext ? verified(link, report, choice.targetVersion) : verdict;
}
