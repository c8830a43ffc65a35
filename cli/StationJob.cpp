#include "cli/StationJob.h"
#include "cli/CliPrompts.h"
#include "cli/MeterObservers.h"
#include "cli/MeterOutput.h"
#include "cli/MeterReporter.h"
#include "cli/MeterStack.h"
#include "cli/MeterUpgrade.h"
#include "cli/StopSignal.h"
#include "base/FwUpErrors.h"
#include "history/AttemptRecord.h"
#include "upgrade/AttemptRecorder.h"
#include "link/MeterLink.h"
#include "link/QtCommPort.h"
#include "link/TranscriptCommPort.h"
#include "link/VersionReply.h"
#include "station/StationProfile.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeFile.h"
#include <QDeadlineTimer>
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
    return !heard.isEmpty() && !VersionReply::isBootLoaderRefusal(heard);
}

QString deviceBehind(const MeterAddress &socket)
{
    return QFileInfo(socket.devicePath()).canonicalFilePath();
}
}

StationJob::StationJob(const StationSettings &settings, MeterAddress socket, Kind kind, QString heldBy)
    : settings_(settings), socket_(std::move(socket)), kind_(kind), heldBy_(std::move(heldBy)),
      device_(deviceBehind(socket_))
{
}

std::shared_ptr<MeterBoard> StationJob::board() const
{
    QMutexLocker hold(&boardMutex_);
    return board_;
}

void StationJob::markRemoved()
{
    QMutexLocker hold(&wakeMutex_);
    removed_.store(true);
    wake_.wakeAll();
}

void StationJob::wakeUp()
{
    QMutexLocker hold(&wakeMutex_);
    wake_.wakeAll();
}

bool StationJob::linkLost() const
{
    return removed_.load() || deviceBehind(socket_) != device_;
}

bool StationJob::stopping() const
{
    return StopSignal::requested() || removed_.load();
}

bool StationJob::rest(double seconds)
{
    const QDeadlineTimer until(qint64(seconds * 1000));
    QMutexLocker hold(&wakeMutex_);
    while (!stopping() && !until.hasExpired())
        wake_.wait(&wakeMutex_, until);
    return !stopping();
}

void StationJob::run()
{
    if (kind_ == Kind::Fixed)
        runFixed();
    else if (rest(settings_.profile.settleSeconds) && !linkLost())
        handleMeter();
}

// A fixed socket has no plug to tell of its meters: each meter that answers
// there is handled once, until the socket is heard empty or another serial
// answers. A boot loader is handled once too: taken up again when a row of
// this socket left a meter in one, else left alone with the reason.
void StationJob::runFixed()
{
    bool handledHere = false;  // the meter in the socket now has been handled
    QString handledSerial;
    while (!stopping()) {
        const Heard heard = ask();
        const bool same = heard.serial.isEmpty() || heard.serial == handledSerial;
        if (!heard.answered)
            handledHere = false;
        if (!heard.answered || (handledHere && same)) {
            rest(kIdleAskSeconds);
            continue;
        }
        device_ = deviceBehind(socket_);
        handleMeter();
        const std::shared_ptr<MeterBoard> handled = board();
        handledHere = true;
        handledSerial = handled ? handled->at(0).serial : QString();
    }
}

// The version question, which changes nothing on the meter.
StationJob::Heard StationJob::ask()
{
    QtCommPort serial(PortMap{});
    serial.setWaitsBlocked(true);
    CliPrompts quiet(StopSignal::flag(), {});
    LinkEvents events;
    MeterLink link(serial, quiet, events, socket_);
    const bool found = link.checkVersion() == LinkResult::Answered;
    link.Com_Close();
    return {found ? link.meter().Meter_Serial : QString(), found || !link.meter().lastReply.isEmpty()};
}

bool StationJob::handleMeter()
{
    auto board = std::make_shared<MeterBoard>(QList<MeterAddress>{socket_}, settings_.json);
    {
        QMutexLocker hold(&boardMutex_);
        board_ = board;
    }
    MeterStack meter(socket_, PortMap{}, *board, 0, settings_.logDir);
    AttemptRecorder history(QStringLiteral("ovfw"), socket_);
    history.setStation({settings_.profile.name, settings_.operatorName, settings_.profile.sha256});
    meter.report.recordInto(history);
    try {
        decide(meter.link, meter.prompts, meter.report);
    } catch (const FwUpError &e) {
        const qint64 line = board->at(0).lines;
        if (linkLost()) {
            meter.report.removed(line);
            meter.report.finish(MeterResult::Failed, QStringLiteral("removed at line %1").arg(line));
        } else {
            meter.report.finish(MeterResult::Failed, QStringLiteral("%1: %2").arg(e.code()).arg(e.description()));
        }
    }
    meter.closeQuietly();
    const MeterStatus done = board->at(0);
    if (settings_.finished)
        settings_.finished(done);
    return done.result != MeterResult::NoMeter;
}

// No version reply. A meter left in its boot loader here (the socket's, or
// its adapter's, last row says so, with its model) is asked for the boot
// loader and taken up again; anything else is left alone, and says why.
bool StationJob::recoverable(MeterLink &link, MeterReporter &report)
{
    const bool heardSomething = !link.meter().lastReply.isEmpty();
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
    if (link.probeBoot() != LinkResult::Answered) {
        report.finish(MeterResult::NoMeter, QStringLiteral("no meter or boot loader answered"));
        return false;
    }
    MeterState &state = link.meter();
    state.Boot_Mode = true;
    state.Model_Code = last->model;
    state.Meter_Serial = last->serial;
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
    if (!heldBy_.isEmpty()) {
        report.finish(MeterResult::NotTouched, QStringLiteral("the device is held by socket %1").arg(heldBy_));
        return;
    }
    bool found = false;
    bool misheard = false;
    for (int ask = 0; ask < kMostVersionAsks && !found && !stopping(); ++ask) {
        found = link.checkVersion() == LinkResult::Answered;
        misheard = !found && garbled(link.meter().lastReply);
        if (!found && !misheard)
            break;
    }
    MeterState &state = link.meter();
    if (kind_ == Kind::Watched && linkLost()) {
        // Its plug is over before anything was done: the next plug's job takes it.
        report.finish(MeterResult::NoMeter, QStringLiteral("its link went away before it was handled"));
        return;
    }
    if (!found && misheard) {
        report.notTouched(state, {}, HistoryOutcome::Unidentified,
                          QStringLiteral("its identity could not be read: it answers, but never with a whole "
                                         "version reply"),
                          MeterResult::NotTouched);
        return;
    }
    if (!found) {
        if (!recoverable(link, report))
            return;
    } else {
        report.identified(state);
    }
    const auto firmware = settings_.profile.firmware.constFind(state.Model_Code);
    if (firmware == settings_.profile.firmware.cend()) {
        report.notTouched(state, {}, HistoryOutcome::NoFirmware,
                          QStringLiteral("no firmware for model %1 in this profile").arg(state.Model_Code),
                          MeterResult::NotTouched);
        return;
    }
    if (!state.Boot_Mode && UpgradeFile::sameVersion(state.Firm_Version, firmware->version)) {
        report.notTouched(state, firmware->filePath, HistoryOutcome::Current,
                          QStringLiteral("firmware %1").arg(state.Firm_Version), MeterResult::Current);
        return;
    }
    if (StopSignal::requested()) {
        report.notTouched(state, firmware->filePath, HistoryOutcome::Stopped,
                          QStringLiteral("stopped before the upgrade began"), MeterResult::Interrupted);
        return;
    }
    upgrade(link, prompts, report, *firmware);
}

void StationJob::upgrade(MeterLink &link, CliPrompts &prompts, MeterReporter &report, const StationFirmware &firmware)
{
    UpgradePlan plan;
    plan.filePath = firmware.filePath;
    plan.fileModel = firmware.model;
    plan.checked = firmware.checked;
    plan.retries = firmware.retries;
    plan.verify = true;
    plan.targetVersion = firmware.version;
    plan.linkLost = [this] { return linkLost(); };
    report.history()->setFile(plan.checked->facts());
    const qint64 lines = firmware.checked->fileLines();
    const int slot = noteSlotFor(socket_, firmware.filePath);
    report.board().update(0, [lines, slot](MeterStatus &s) {
        s.totalLines = lines;
        s.noteSlot = slot;
    });
    const UpgradeVerdict verdict = upgradeIdentifiedMeter(link, prompts, report, plan);
    report.finish(verdict.result, verdict.message);
}
