#include "cli/StationJob.h"
#include "cli/CliPrompts.h"
#include "cli/MeterObservers.h"
#include "cli/MeterOutput.h"
#include "cli/MeterReporter.h"
#include "cli/MeterUpgrade.h"
#include "cli/StopSignal.h"
#include "base/FwUpErrors.h"
#include "history/AttemptRecord.h"
#include "history/AttemptRecorder.h"
#include "base/EventWait.h"
#include "link/MeterLink.h"
#include "link/QtCommPort.h"
#include "link/TranscriptCommPort.h"
#include "station/StationProfile.h"
#include "upgrade/CheckedFile.h"
#include "upgrade/UpgradeFile.h"
#include <QFileInfo>
#include <QHash>

namespace {
constexpr double kIdleAskSeconds = 1.0;  // a fixed socket asked for a meter
constexpr int kMostVersionAsks = 3;      // a garbled reply is asked again

// The slot of a second signal's note for a socket's meter of one file; made
// once for each, since slots are never written twice.
int noteSlotFor(const MeterAddress &socket, const QString &filePath)
{
    static QMutex mutex;
    static QHash<QString, int> made;
    const QString key = socket.socketName() + QLatin1Char('\n') + filePath;
    QMutexLocker hold(&mutex);
    const auto found = made.constFind(key);
    if (found != made.cend())
        return *found;
    const int slot = StopSignal::publishNote(MeterOutput::signalNote(filePath, socket));
    made.insert(key, slot);
    return slot;
}

// A reply that is neither silence nor a boot loader's FAIL: a meter in normal
// mode that was misheard.
bool garbled(const QByteArray &heard)
{
    QByteArray rest = heard;
    rest.replace("FAIL", "").replace("\r", "").replace("\n", "");
    return !rest.isEmpty();
}
}

StationJob::StationJob(const StationProfile &profile, MeterAddress socket, Kind kind, bool json,
                       QString operatorName, Finished finished)
    : profile_(profile), socket_(std::move(socket)), kind_(kind), json_(json), operator_(std::move(operatorName)),
      finished_(std::move(finished))
{
}

std::shared_ptr<MeterBoard> StationJob::board() const
{
    QMutexLocker hold(&boardMutex_);
    return board_;
}

bool StationJob::stopping() const
{
    return StopSignal::requested() || (kind_ == Kind::Watched && removed_.load());
}

void StationJob::run()
{
    if (kind_ == Kind::Watched) {
        EventWait::sleepFor(profile_.settleSeconds);
        if (!stopping())
            handleMeter();
        return;
    }
    while (!stopping()) {
        if (!meterAnswers()) {
            EventWait::sleepFor(kIdleAskSeconds);
            continue;
        }
        handleMeter();
        // Done with it: the next meter is the one that answers after it left.
        while (!stopping() && meterAnswers())
            EventWait::sleepFor(kIdleAskSeconds);
    }
}

// The version question, which changes nothing on the meter.
bool StationJob::meterAnswers()
{
    QtCommPort serial(PortMap{});
    serial.setWaitsBlocked(true);
    CliPrompts quiet(StopSignal::flag(), {});
    LinkEvents events;
    MeterLink link(serial, quiet, events);
    bool found = false;
    link.Check_Version(socket_, found);
    link.Com_Close();
    return found;
}

bool StationJob::handleMeter()
{
    auto board = std::make_shared<MeterBoard>(QList<MeterAddress>{socket_}, json_);
    {
        QMutexLocker hold(&boardMutex_);
        board_ = board;
    }
    QtCommPort serial(PortMap{});
    serial.setWaitsBlocked(true);
    TranscriptCommPort port(serial);
    MeterReporter report(*board, 0, port, {});
    report.started();
    CliPrompts prompts(StopSignal::flag(), DecisionObserver{*board, 0, port});
    CliLinkEvents linkEvents(port, socket_);
    MeterLink link(port, prompts, linkEvents);
    link.meter().Model_Code = QStringLiteral("*");
    AttemptRecorder history(QStringLiteral("ovfw"), socket_);
    history.setStation({profile_.name, operator_, profile_.sha256});
    report.recordInto(history);
    try {
        decide(link, prompts, report);
    } catch (const FwUpError &e) {
        report.finish(MeterResult::Failed, QStringLiteral("%1: %2").arg(e.code()).arg(e.description()));
    }
    try {
        link.Com_Close();
    } catch (const FwUpError &) {
    }
    const MeterStatus done = board->at(0);
    if (finished_)
        finished_(done);
    return done.result != MeterResult::NoMeter;
}

// No version reply. A meter left in its boot loader here (the socket's, or
// its adapter's, last row says so, with its model) is asked for the boot
// loader and taken up again; anything else is left alone, and says why.
bool StationJob::recoverable(MeterLink &link, MeterReporter &report)
{
    const bool heardSomething = !link.meter().Last_Reply.isEmpty();
    const std::optional<AttemptRecord> last = report.history()->lastAtSocket();
    const bool leftHere = last && !last->model.isEmpty() && last->leftInBootLoader != false;
    if (!leftHere) {
        if (heardSomething)
            report.notTouched(link.meter(), {}, HistoryOutcome::ModelUnknown,
                              QStringLiteral("it answers only as a boot loader, and no meter of a known model was "
                                             "left in one here"),
                              MeterResult::NotTouched);
        else
            report.finish(MeterResult::NoMeter, QStringLiteral("no meter answered"));
        return false;
    }
    bool acknowledged = false;
    link.Probe_Boot(socket_, acknowledged);
    if (!acknowledged) {
        report.finish(MeterResult::NoMeter, QStringLiteral("no meter or boot loader answered"));
        return false;
    }
    MeterState &g = link.meter();
    g.Boot_Mode = true;
    g.Model_Code = last->model;
    g.Meter_Serial = last->serial;
    report.board().update(0, [&](MeterStatus &s) {
        s.serial = last->serial;
        s.model = last->model;
    });
    report.mayBeInBootLoader(true);
    report.bootLoaderAnswered(true);
    report.note(QStringLiteral("taken up again: the meter %1 of model %2 was left in its boot loader here")
                    .arg(last->serial, last->model));
    return true;
}

void StationJob::decide(MeterLink &link, CliPrompts &prompts, MeterReporter &report)
{
    bool found = false;
    for (int ask = 0; ask < kMostVersionAsks && !found && !stopping(); ++ask) {
        link.Check_Version(socket_, found);
        if (!found && !garbled(link.meter().Last_Reply))
            break;
    }
    MeterState &g = link.meter();
    if (!found) {
        if (!recoverable(link, report))
            return;
    } else {
        report.identified(g);
    }
    const auto firmware = profile_.firmware.constFind(g.Model_Code);
    if (firmware == profile_.firmware.cend()) {
        report.notTouched(g, {}, HistoryOutcome::NoFirmware,
                          QStringLiteral("no firmware for model %1 in this profile").arg(g.Model_Code),
                          MeterResult::NotTouched);
        return;
    }
    if (!g.Boot_Mode && UpgradeFile::sameVersion(g.Firm_Version, firmware->version)) {
        report.notTouched(g, firmware->filePath, HistoryOutcome::Current,
                          QStringLiteral("firmware %1").arg(g.Firm_Version), MeterResult::Current);
        return;
    }
    if (stopping()) {
        report.finish(MeterResult::Interrupted, QStringLiteral("stopped before the upgrade began"));
        return;
    }
    report.history()->setFile(FileFacts::of(firmware->filePath, *firmware->checked));
    const qint64 lines = firmware->checked->fileLines();
    const int slot = noteSlotFor(socket_, firmware->filePath);
    report.board().update(0, [lines, slot](MeterStatus &s) {
        s.totalLines = lines;
        s.noteSlot = slot;
    });
    UpgradeChoice choice;
    choice.filePath = firmware->filePath;
    choice.checked = firmware->checked;
    choice.retries = firmware->retries;
    choice.verify = true;
    choice.targetVersion = firmware->version;
    UpgradeVerdict verdict = upgradeIdentifiedMeter(link, prompts, report, choice);
    const bool pulled = !QFileInfo::exists(socket_.devicePath());
    if (verdict.result != MeterResult::Completed && pulled && !StopSignal::requested())
        verdict = {MeterResult::Failed, QStringLiteral("removed at line %1").arg(report.board().at(0).lines), false};
    report.finish(verdict.result, verdict.message);
}
