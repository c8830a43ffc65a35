#pragma once
#include "upgrade/TransferPolicy.h"
#include <QString>
#include <functional>
#include <memory>

class UpgradeImage;

// What a meter is upgraded with, and how: made once by `upgrade` for all its
// meters, or by a station for the meter in one socket.
struct UpgradePlan {
    QString filePath;   // absolute
    QString fileModel;  // the model the file's name gives
    std::shared_ptr<const UpgradeImage> checked;  // read once, for every meter; its facts go to the history
    // The firmware version the meter must report after the upgrade: the
    // file name's, or the one a station's profile pins.
    QString targetVersion;
    bool checkContent = true;  // false: --no-check
    bool modelGuard = true;    // false: --force, whatever model answers
    bool boot = false;         // the meter may wait in its boot loader already
    int retries = TransferPolicy::kUnattendedRetries;
    bool verify = false;       // identify the meter again after the upgrade
    // A station's: true once the meter's socket reaches another device, or
    // none; the verification then ends, as the meter is not there to ask.
    std::function<bool()> linkLost;
};
