#include "upgrade/BootLoaderState.h"
#include "link/MeterState.h"
#include "upgrade/UpgradeRun.h"

std::optional<bool> leftInBootLoader(const MeterState &meter, const UpgradeResult &result)
{
    if (result.outcome == UpgradeOutcome::NotSwitched)
        return std::nullopt;
    return meter.Boot_Mode && result.outcome != UpgradeOutcome::Completed;
}
