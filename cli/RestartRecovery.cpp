#include "cli/RestartRecovery.h"
#include "base/MonotonicClock.h"
#include "cli/CliPrompts.h"
#include "cli/StopSignal.h"
#include "link/MeterLink.h"

RecoveredUpgrade RestartRecovery::run(UpgradeRun &upgrade, QString &fileName)
{
    RecoveredUpgrade out;
    out.result = upgrade.run(fileName);
    out.retries = out.result.retries;
    while (out.result.restartSuspected && !StopSignal::requested()) {
        const qint64 silentLine = out.result.refusedLine;
        if (out.restarts >= prompts.retryLimit()) {
            // Silence is all that was seen: each restart is presumed, not known.
            out.failure = QStringLiteral("the meter fell silent at line %1 after %2 presumed restarts "
                                         "(--retries %3 allows no more)")
                              .arg(silentLine)
                              .arg(out.restarts)
                              .arg(prompts.retryLimit());
            return out;
        }
        ++out.restarts;
        ++out.retries;
        tell(QStringLiteral("the meter fell silent at line %1; looking for its boot loader").arg(silentLine));
        if (!bootLoaderAnswers()) {
            out.failure = QStringLiteral("the meter fell silent at line %1 and its boot loader did not answer "
                                         "within %2 s")
                              .arg(silentLine)
                              .arg(kBootLoaderWaitSeconds);
            return out;
        }
        tell(QStringLiteral("boot loader answered; the file is sent again from its start"));
        link.meter().Boot_Mode = true;
        prompts.startAgain();
        out.result = upgrade.run(fileName);
        out.retries += out.result.retries;
    }
    return out;
}

bool RestartRecovery::bootLoaderAnswers()
{
    const double deadline = MonotonicClock::now() + kBootLoaderWaitSeconds;
    const std::int16_t port = link.meter().Port_Number;
    while (MonotonicClock::now() < deadline && !StopSignal::requested()) {
        bool acknowledged = false;
        link.Probe_Boot(port, acknowledged);
        if (acknowledged)
            return true;
    }
    return false;
}
