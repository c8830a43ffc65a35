#pragma once
#include "cli/UpgradeVerdict.h"
#include "cli/UpgradePlan.h"
#include <QString>

class CliPrompts;
class MeterLink;
class MeterReporter;

// Switches the meter the link has identified (or found in its boot loader)
// into its boot loader, sends it the file, and verifies it when asked; its
// rows and events go out through `report`. The verdict is returned, not told.
UpgradeVerdict upgradeIdentifiedMeter(MeterLink &link, CliPrompts &prompts, MeterReporter &report,
                                      const UpgradePlan &plan);
