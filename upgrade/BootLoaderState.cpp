#include "upgrade/BootLoaderState.h"
#include "link/MeterState.h"
#include "upgrade/UpgradeRun.h"

std::optional<bool> leftInBootLoader(const MeterState &meter, const UpgradeResult &result)
{
    // A switch never acknowledged may still have happened, and an end record
    // never answered may still be committing.
    if (result.outcome == UpgradeOutcome::NotSwitched || result.outcome == UpgradeOutcome::EndUnconfirmed)
        return std::nullopt;
    return meter.Boot_Mode && result.outcome != UpgradeOutcome::Completed;
}
