#pragma once
#include "cli/MeterBoard.h"
#include <QString>

struct TransferPolicy;
struct UpgradeResult;

// What an upgrade's result means for its meter: the result and the message
// that the table, JSON, transcript and history give. Decided from the facts
// alone, so that every road to an outcome can be read in one table.
struct UpgradeVerdict {
    MeterResult result = MeterResult::Failed;
    QString message;
    // Completed, and --verify asked: the meter is identified again before
    // its result is known.
    bool verifyNext = false;
};

struct VerdictFacts {
    bool stopped = false;       // a stop was asked for during the upgrade
    bool verifyAsked = false;   // --verify
    QString targetVersion;      // the file's firmware version
};

UpgradeVerdict upgradeVerdict(const UpgradeResult &result, const TransferPolicy &policy, const VerdictFacts &facts);

// After the upgrade and --verify: whether the version the restarted meter
// reports is the file's, told as a verdict. `found` false: it never answered.
UpgradeVerdict verifiedVerdict(bool found, const QString &firmwareAfter, const QString &targetVersion);
