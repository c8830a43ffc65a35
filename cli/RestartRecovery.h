#pragma once
#include "upgrade/UpgradeRun.h"
#include <QString>
#include <functional>

class CliPrompts;
class MeterLink;

// An upgrade that survives a meter restarting mid-file: when the transfer
// ended because the meter fell silent (a restart suspected), the boot loader is
// looked for again on the same port and the file is sent from its start, up
// to the retry limit. A meter that restarts keeps no partial image, so only
// a whole file sent again can complete.
struct RecoveredUpgrade {
    UpgradeResult result;  // of the last attempt
    int restarts = 0;      // times the file was started again
    int retries = 0;       // of every attempt, restarts included
    QString failure;       // why a silent meter could not be recovered; empty otherwise
};

struct RestartRecovery {
    static constexpr double kBootLoaderWaitSeconds = 10.0;

    MeterLink &link;
    CliPrompts &prompts;
    std::function<void(const QString &note)> tell;  // into the transcript and JSON

    RecoveredUpgrade run(UpgradeRun &upgrade, QString &fileName);

private:
    bool bootLoaderAnswers();
};
