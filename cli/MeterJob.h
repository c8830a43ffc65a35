#pragma once
#include "cli/MeterBoard.h"
#include "link/PortMap.h"
#include <QThread>

class CliPrompts;
class MeterLink;
class TranscriptCommPort;
enum class LinkResult;

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

// One meter on its own thread: its own port and meter link (which holds the
// meter's state), all made on that thread, so the link's waits run this
// thread's event loop.
class MeterJob : public QThread {
public:
    MeterJob(int index, int port, const MeterJobSettings &settings, MeterBoard &board);

protected:
    void run() override;

private:
    void identify(MeterLink &link, TranscriptCommPort &port);
    bool identifyForUpgrade(MeterLink &link, TranscriptCommPort &port);
    void upgrade(MeterLink &link, CliPrompts &prompts, TranscriptCommPort &port);
    void finish(MeterResult result, const QString &message, TranscriptCommPort &port);
    void identityFound(const MeterLink &link, TranscriptCommPort &port);
    QString openFailure() const;
    QString transcriptStem() const;

    int index_;
    int port_;
    MeterJobSettings settings_;
    MeterBoard &board_;
};
