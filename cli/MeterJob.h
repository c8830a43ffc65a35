#pragma once
#include "cli/MeterBoard.h"
#include "link/PortMap.h"
#include <QThread>

class CliPrompts;
class MeterLink;
class TranscriptCommPort;
struct FwUpGlobals;

struct MeterJobSettings {
    enum class Mode { Identify, Upgrade };
    Mode mode = Mode::Upgrade;
    PortMap map;
    QString filePath;   // absolute
    QString fileModel;  // the model the file name gives
    int retries = 3;
    bool force = false;  // upgrade whatever model answers
    bool boot = false;   // the meter waits in its boot loader already
    QString logDir;      // empty: no transcript
};

// One meter on its own thread: its own port, program state and meter link,
// all made on that thread, so the link's waits run this thread's event loop.
class MeterJob : public QThread {
public:
    MeterJob(int index, int port, const MeterJobSettings &settings, MeterBoard &board);

protected:
    void run() override;

private:
    void identify(FwUpGlobals &g, MeterLink &link, CliPrompts &prompts, TranscriptCommPort &port);
    bool identifyForUpgrade(FwUpGlobals &g, MeterLink &link, CliPrompts &prompts, TranscriptCommPort &port);
    void upgrade(FwUpGlobals &g, MeterLink &link, CliPrompts &prompts, TranscriptCommPort &port);
    void finish(MeterResult result, const QString &message, TranscriptCommPort &port);
    void identityFound(const FwUpGlobals &g, TranscriptCommPort &port);

    int index_;
    int port_;
    MeterJobSettings settings_;
    MeterBoard &board_;
};
