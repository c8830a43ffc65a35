#include "cli/StationJob.h"
#include "cli/CliPrompts.h"
#include "cli/MeterObservers.h"
#include "cli/MeterReporter.h"
#include "cli/MeterUpgrade.h"
#include "cli/StopSignal.h"
#include "base/FwUpErrors.h"
#include "history/AttemptRecord.h"
#include "history/AttemptRecorder.h"
#include "link/EventWait.h"
#include "link/MeterLink.h"
#include "link/QtCommPort.h"
#include "link/TranscriptCommPort.h"
#include "station/StationProfile.h"
#include "upgrade/CheckedFile.h"
#include "upgrade/UpgradeFile.h"
#include <QFileInfo>

namespace {
constexpr double kIdleAskSeconds = 1.0;  // a fixed socket asked for a meter
}

StationJob::StationJob(const StationProfile &profile, MeterAddress socket, Kind kind, bool json, Finished finished)
    : profile_(profile), socket_(std::move(socket)), kind_(kind), json_(json), finished_(std::move(finished))
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
    TranscriptCommPort port(serial);
    MeterReporter report(*board, 0, port, {});
    report.started();
    CliPrompts prompts(StopSignal::flag(), DecisionObserver{*board, 0, port});
    CliLinkEvents linkEvents(port, socket_);
    MeterLink link(port, prompts, linkEvents);
    link.meter().Model_Code = QStringLiteral("*");
    AttemptRecorder history(QStringLiteral("ovfw"), socket_);
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

void StationJob::decide(MeterLink &link, CliPrompts &prompts, MeterReporter &report)
{
    bool found = false;
    link.Check_Version(socket_, found);
    if (!found) {
        report.finish(MeterResult::NoMeter, QStringLiteral("no meter answered"));
        return;
    }
    const MeterState &g = link.meter();
    report.identified(g);
    const auto firmware = profile_.firmware.constFind(g.Model_Code);
    if (firmware == profile_.firmware.cend()) {
        report.notTouched(g, {}, HistoryOutcome::NoFirmware,
                          QStringLiteral("no firmware for model %1 in this profile").arg(g.Model_Code),
                          MeterResult::NotTouched);
        return;
    }
    if (UpgradeFile::sameVersion(g.Firm_Version, firmware->version)) {
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
    report.board().update(0, [lines](MeterStatus &s) { s.totalLines = lines; });
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
