#pragma once
#include "cli/MeterBoard.h"
#include "cli/UpgradePlan.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include <QThread>
#include <memory>

class CliPrompts;
class MeterLink;
class MeterReporter;

// What every meter job of one run of `identify` or `upgrade` shares.
struct MeterJobSettings {
    enum class Mode { Identify, Upgrade };
    Mode mode = Mode::Upgrade;
    PortMap map;
    bool probeBoot = false;  // identify: probe a silent port for a boot loader (which switches a meter)
    QString logDir;      // empty: no transcript
    UpgradePlan plan;    // upgrade: the same for every meter
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
