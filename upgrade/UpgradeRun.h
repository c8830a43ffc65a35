#pragma once
#include "base/MeterReply.h"
#include "upgrade/LineQuality.h"
#include "upgrade/TransferPolicy.h"
#include "upgrade/UpgradeProgress.h"
#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

class UpgradeImage;
class MeterLink;
class Prompts;
class UpgradeFile;

// What an upgrade shows while it runs. The window turns these into its
// labels and progress bar; the command line into its progress lines.
class UpgradeEvents {
public:
    virtual ~UpgradeEvents() = default;
    // A file was chosen; this is the version it carries.
    virtual void versionAnnounced(const QString &versionText) { Q_UNUSED(versionText); }
    // The meter is about to be changed for the first time in this upgrade,
    // with the file chosen: before the first byte of the switch into the boot
    // loader, or of the first line for a meter in its boot loader already.
    virtual void meterChanging(const QString &filePath, const UpgradeImage &checked)
    {
        Q_UNUSED(filePath);
        Q_UNUSED(checked);
    }
    // The transfer starts: the bar is scaled to the file and shown.
    virtual void progressShown(const UpgradeProgress &progress) { Q_UNUSED(progress); }
    // A line was read and counted; it is sent next.
    virtual void progressAdvanced(const UpgradeProgress &progress) { Q_UNUSED(progress); }
    // The reading has ended: the version heading reads as before.
    virtual void headingRestored() {}
    // The outcome was reported: the bar goes.
    virtual void progressHidden() {}
    // The meter fell silent at `line` and is taken to have restarted: its
    // boot loader is looked for again.
    virtual void restartSuspected(qint64 line) { Q_UNUSED(line); }
    // Its boot loader answered: the file is sent again from its start.
    virtual void bootLoaderFoundAgain() {}
    // Asked before each line is read: true ends the transfer there, after the
    // line in flight was answered. The window never asks to stop.
    virtual bool stopRequested() { return false; }
};

enum class UpgradeOutcome {
    Completed,      // every line accepted, the last one the end record
    UnexpectedEnd,  // the transfer ended without the end record accepted last
                    // (refusedLine says when a refused line ended it)
    Declined,       // Cancel at the warning: the meter was not touched
    NotSwitched,    // the meter did not acknowledge the switch, and no retry was asked
    Failed,         // a run-time error ended it
    Stopped,        // the caller asked to stop between two lines; nothing reported
    FileRefused,    // the file failed its check (fault says why): nothing was sent
    EndUnconfirmed, // the end record went unanswered, and the meter did not then
                    // report the file's version (versionAfter holds what it said)
};

// Why a file was refused before anything was sent.
struct FileFault {
    qint64 line = 0;       // from 1; 0 for the file as a whole (its model, no end record)
    QString description;   // in a technician's words
    QString shownLine;     // the offending line, fit to show; may be empty
    bool modelMismatch = false;
};

// What the file must pass before the meter is touched.
struct FileRules {
    bool content = true;  // every line a record, the end record last
    bool model = true;    // the name's model is the meter's, where both are known
};

struct UpgradeResult {
    UpgradeOutcome outcome = UpgradeOutcome::Failed;
    // The upgrade file, as its image names it.
    QString filePath;
    // What was read of it and checked (and so what is sent and recorded);
    // null when nothing was read.
    std::shared_ptr<const UpgradeImage> checked;
    int errorNumber = 0;  // for Failed
    QString errorDescription;
    qint64 linesAccepted = 0;  // lines of the file the meter acknowledged, in order
    qint64 refusedLine = 0;    // the refused line the transfer ended on (from 1), or 0
    MeterReply refusal = MeterReply::Refused;  // how the meter last answered refusedLine
    int retries = 0;           // switch attempts and line resends asked for
    FileFault fault;           // for FileRefused
    bool bootEntered = false;  // the meter acknowledged the switch in this run
    int answeredLate = 0;      // lines and switches accepted by an answer inside a settle
    // A line went unanswered, the line stayed quiet, and its repeat was not
    // accepted either: the meter is taken to have restarted at refusedLine.
    bool restartSuspected = false;
    // The end record went unanswered, so the meter was identified instead:
    // whether it answered, and the firmware version it reported.
    bool endAnswered = true;
    QString versionAfter;
    // Restart recovery: how often the file was sent again from its start, and
    // why a suspected restart could not be recovered (restartSuspected stays set).
    enum class Recovery { None, BootLoaderSilent, RestartsSpent };
    int restarts = 0;
    Recovery recovery = Recovery::None;
    // The line-quality stop ended the transfer: why, with this many of the
    // last lines sent needing a repeat, this many repeats spent on them, and
    // the furthest line any attempt reached.
    bool lineQualityStopped = false;
    LineQuality::Verdict qualityStop = LineQuality::Verdict::GoOn;
    int linesRetriedRecently = 0;
    int retriesRecently = 0;
    int fruitlessRestarts = 0;
    qint64 furthestLine = 0;
};

// One upgrade of the meter on the link's port with one image (the file read
// and checked before the meter is touched), up to the report of its outcome:
// the file's refusal or the warning, the switch into the boot loader, and
// every line of the image sent and acknowledged in turn. Questions go to the
// prompts; a refused line is sent again only when the answer is Retry. A
// run-time error ends in one handler that reports it and closes the file.
// Choosing the file, and what happens to the window before and after, is
// the caller's.
class UpgradeRun {
public:
    UpgradeRun(MeterLink &link, Prompts &prompts, UpgradeEvents &events);
    ~UpgradeRun();

    // Sends this image: the window's for the file its dialog chose, or the
    // command line's, made once for every meter.
    UpgradeResult run(std::shared_ptr<const UpgradeImage> image);

    // How late answers, repeats, silence and the end record are dealt with;
    // the default is the window's road.
    void setPolicy(const TransferPolicy &policy) { policy_ = policy; }
    void setFileRules(const FileRules &rules) { rules_ = rules; }

    // The run's reader of the image is open only while its lines go out.
    // Closed from outside (the window closing), the transfer fails at its
    // next read and reports it.
    bool fileOpen() const;
    void closeFile();

private:
    UpgradeResult attempts();
    UpgradeResult once();
    bool bootLoaderAnswers();
    // The line-quality stop has said `verdict`: into the result when it stops.
    bool qualityStops(LineQuality::Verdict verdict, UpgradeResult &result) const;
    bool fileRefused();
    bool enterBootLoader();  // false: not switched, the port closed
    bool switchAnsweredLate();
    bool sendLine(const QByteArray &line, qint64 lineNumber);  // false: the transfer ends here
    bool endedOn(qint64 lineNumber, MeterReply reply);
    void transfer();
    bool meterReportsFileVersion();

    UpgradeResult result_;
    MeterLink &link_;
    Prompts &prompts_;
    UpgradeEvents &events_;
    std::unique_ptr<UpgradeFile> reader_;  // of the image, while its lines go out
    TransferPolicy policy_;
    std::optional<LineQuality> quality_;  // for the whole run, across restarts
    FileRules rules_;
    std::shared_ptr<const UpgradeImage> checked_;
};
