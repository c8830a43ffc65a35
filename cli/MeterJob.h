#pragma once
#include "cli/MeterBoard.h"
#include "history/FileFacts.h"
#include "link/PortMap.h"
#include <QThread>
#include <memory>

class AttemptRecorder;
class CheckedFile;
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
    std::shared_ptr<const CheckedFile> checkedFile;  // read once, for every meter
    bool checkContent = true;  // false: --no-check
    int retries = 3;
    bool force = false;  // upgrade whatever model answers
    bool boot = false;   // the meter may wait in its boot loader already
    bool verify = false; // identify the meter again after the upgrade
    bool probeBoot = false;  // identify: probe a silent port for a boot loader (which switches a meter)
    QString logDir;      // empty: no transcript
    FileFacts file;      // for the upgrade history
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
    bool identifyForUpgrade(MeterLink &link, TranscriptCommPort &port, AttemptRecorder &history);
    bool waitingBootLoader(MeterLink &link, TranscriptCommPort &port, AttemptRecorder &history);
    void upgrade(MeterLink &link, CliPrompts &prompts, TranscriptCommPort &port);
    void verify(MeterLink &link, TranscriptCommPort &port, AttemptRecorder &history);
    void finish(MeterResult result, const QString &message, TranscriptCommPort &port);
    void identityFound(const MeterLink &link, TranscriptCommPort &port);
    QString openFailure(const TranscriptCommPort &port) const;
    QString transcriptStem() const;

    int index_;
    int port_;
    MeterJobSettings settings_;
    MeterBoard &board_;
};
