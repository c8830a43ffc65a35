#pragma once
#include "cli/MeterBoard.h"
#include "history/FileFacts.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include "upgrade/TransferPolicy.h"
#include <QThread>
#include <memory>

class CheckedFile;
class CliPrompts;
class MeterLink;
class MeterReporter;

struct MeterJobSettings {
    enum class Mode { Identify, Upgrade };
    Mode mode = Mode::Upgrade;
    PortMap map;
    QString filePath;   // absolute
    QString fileModel;  // the model the file name gives
    std::shared_ptr<const CheckedFile> checkedFile;  // read once, for every meter
    bool checkContent = true;  // false: --no-check
    int retries = TransferPolicy::kUnattendedRetries;
    bool force = false;  // upgrade whatever model answers
    bool boot = false;   // the meter may wait in its boot loader already
    bool verify = false; // identify the meter again after the upgrade
    bool probeBoot = false;  // identify: probe a silent port for a boot loader (which switches a meter)
    QString logDir;      // empty: no transcript
    FileFacts file;      // for the upgrade history
};

// One meter on its own thread: its own port and meter link (which holds the
// meter's state), all made on that thread, so the link's waits run this
// thread's event loop. It decides what happens to its meter; what it learns
// goes out through its reporter.
class MeterJob : public QThread {
public:
    MeterJob(int index, const MeterJobSettings &settings, MeterBoard &board);

protected:
    void run() override;

private:
    void identify(MeterLink &link, MeterReporter &report);
    bool identifyForUpgrade(MeterLink &link, MeterReporter &report);
    bool waitingBootLoader(MeterLink &link, MeterReporter &report);
    void upgrade(MeterLink &link, CliPrompts &prompts, MeterReporter &report);
    QString openFailure(PortState state) const;
    const MeterAddress &address() const { return board_.addressOf(index_); }

    int index_;
    MeterJobSettings settings_;
    MeterBoard &board_;
};
