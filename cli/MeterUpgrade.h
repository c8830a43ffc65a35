#pragma once
#include "cli/UpgradeVerdict.h"
#include "upgrade/TransferPolicy.h"
#include <QString>
#include <functional>
#include <memory>

class CheckedFile;
class CliPrompts;
class MeterLink;
class MeterReporter;

// What an identified meter is upgraded with, and how.
struct UpgradeChoice {
    QString filePath;  // absolute
    std::shared_ptr<const CheckedFile> checked;  // read once, for every meter
    bool checkContent = true;  // false: --no-check
    bool modelGuard = true;    // false: --force
    int retries = TransferPolicy::kUnattendedRetries;
    bool verify = false;  // identify the meter again after the upgrade
    QString targetVersion;
    // A station's: true once the meter's socket reaches another device, or
    // none; the verification then ends, as the meter is not there to ask.
    std::function<bool()> linkLost;
};

// Switches the meter the link has identified (or found in its boot loader)
// into its boot loader, sends it the file, and verifies it when asked; its
// rows and events go out through `report`. The verdict is returned, not told.
UpgradeVerdict upgradeIdentifiedMeter(MeterLink &link, CliPrompts &prompts, MeterReporter &report,
                                      const UpgradeChoice &choice);
