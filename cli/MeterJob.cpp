#include "cli/MeterJob.h"
#include "base/Escaped.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include "cli/CliPrompts.h"
#include "cli/MeterObservers.h"
#include "cli/StopSignal.h"
#include "history/AttemptRecord.h"
#include "history/AttemptRecorder.h"
#include "link/MeterLink.h"
#include "link/TranscriptCommPort.h"
#include "link/QtCommPort.h"
#include "upgrade/BootLoaderState.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeRun.h"
#include <QDir>

namespace {

// The progress events, the history's row when the meter is first changed,
// and a meter that restarted, told in the transcript and the JSON.
class RecordedUpgradeEvents : public CliUpgradeEvents {
public:
    RecordedUpgradeEvents(MeterBoard &board, int index, AttemptRecorder &history, const MeterLink &link,
                          TranscriptCommPort &transcript)
        : CliUpgradeEvents(board, index), board_(board), index_(index), history_(history), link_(link),
          transcript_(transcript)
    {
    }
    void restartSuspected(qint64 line) override
    {
        restarted(QStringLiteral("the meter fell silent at line %1; looking for its boot loader").arg(line));
    }
    void bootLoaderFoundAgain() override
    {
        restarted(QStringLiteral("boot loader answered; the file is sent again from its start"));
    }
    void meterChanging(const QString &filePath, const CheckedFile &checked) override
    {
        history_.setFile(FileFacts::of(filePath, checked));
        history_.started(link_.meter(), filePath);
    }
    void progressAdvanced(const UpgradeProgress &progress) override
    {
        CliUpgradeEvents::progressAdvanced(progress);
        history_.progressed(progress.linesRead - 1);  // the line counted goes out next
    }

private:
    void restarted(const QString &note)
    {
        transcript_.note(note);
        board_.event(index_, QStringLiteral("meter_restarted"), {{QStringLiteral("note"), note}});
    }

    MeterBoard &board_;
    int index_;
    AttemptRecorder &history_;
    const MeterLink &link_;
    TranscriptCommPort &transcript_;
};

// Why a meter that fell silent could not be recovered, or empty.
QString recoveryFailure(const UpgradeResult &result, const TransferPolicy &policy)
{
    switch (result.recovery) {
    case UpgradeResult::Recovery::None: return {};
    case UpgradeResult::Recovery::BootLoaderSilent:
        return QStringLiteral("the meter fell silent at line %1 and its boot loader did not answer within %2 s")
            .arg(result.refusedLine)
            .arg(policy.bootLoaderWaitSeconds);
    case UpgradeResult::Recovery::RestartsSpent:
        // Silence is all that was seen: each restart is presumed, not known.
        return QStringLiteral("the meter fell silent at line %1 after %2 presumed restarts "
                              "(--retries %3 allows no more)")
            .arg(result.refusedLine)
            .arg(result.restarts)
            .arg(policy.mostRestarts);
    }
    return {};
}

}

MeterJob::MeterJob(int index, int port, const MeterJobSettings &settings, MeterBoard &board)
    : index_(index), port_(port), settings_(settings), board_(board)
{
}

void MeterJob::run()
{
    board_.update(index_, [&](MeterStatus &s) {
        s.startedAt = MonotonicClock::now();
        s.device = settings_.map.deviceFor(port_);
        s.phase = QStringLiteral("identifying");
    });
    QtCommPort serial(settings_.map);
    TranscriptCommPort port(serial);
    if (!settings_.logDir.isEmpty()) {
        const QString path = QDir(settings_.logDir).filePath(transcriptStem() + QStringLiteral(".log"));
        if (port.openTranscript(path))
            board_.update(index_, [&](MeterStatus &s) { s.transcript = path; });
    }
    CliPrompts prompts(settings_.filePath, settings_.retries, StopSignal::flag(),
                       DecisionObserver{board_, index_, port});
    CliLinkEvents linkEvents(port);
    MeterLink link(port, prompts, linkEvents);
    link.meter().Port_Number = static_cast<std::int16_t>(port_);
    link.meter().Model_Code = QStringLiteral("*");
    try {
        if (settings_.mode == MeterJobSettings::Mode::Identify)
            identify(link, port);
        else
            upgrade(link, prompts, port);
    } catch (const FwUpError &e) {
        finish(MeterResult::Failed, QStringLiteral("%1: %2").arg(e.code()).arg(e.description()), port);
    } catch (const std::exception &e) {
        finish(MeterResult::Failed, QString::fromLocal8Bit(e.what()), port);
    }
    try {
        link.Com_Close();
    } catch (const FwUpError &) {
    }
}

QString MeterJob::openFailure(const TranscriptCommPort &port) const
{
    const QString reason = portStateText(port.openState());
    if (namedByDevice(port_))
        return QStringLiteral("%1 could not be opened: %2").arg(settings_.map.deviceFor(port_), reason);
    return QStringLiteral("port %1 (%2) could not be opened: %3").arg(port_).arg(settings_.map.deviceFor(port_), reason);
}

QString MeterJob::transcriptStem() const
{
    if (!namedByDevice(port_))
        return QStringLiteral("port%1").arg(port_);
    QString stem = settings_.map.deviceFor(port_);
    stem.replace(QLatin1Char('/'), QLatin1Char('_'));
    while (stem.startsWith(QLatin1Char('_')))
        stem.remove(0, 1);
    return stem;
}

void MeterJob::identityFound(const MeterLink &link, TranscriptCommPort &port)
{
    const MeterState &g = link.meter();
    board_.update(index_, [&](MeterStatus &s) {
        s.serial = g.Meter_Serial;
        s.model = g.Model_Code;
        s.bootVersion = g.Boot_Version;
        s.firmVersion = g.Firm_Version;
    });
    port.note(QStringLiteral("identified: serial %1, model %2, boot loader %3, firmware %4")
                  .arg(g.Meter_Serial, g.Model_Code, g.Boot_Version, g.Firm_Version));
    if (!g.Meter_Serial.isEmpty() && !port.transcriptPath().isEmpty()) {
        QString safe = g.Meter_Serial;
        safe.replace(QLatin1Char('/'), QLatin1Char('_'));
        port.renameTranscript(QDir(settings_.logDir).filePath(transcriptStem() + QStringLiteral("-%1.log").arg(safe)));
        board_.update(index_, [&](MeterStatus &s) { s.transcript = port.transcriptPath(); });
    }
    board_.event(index_, QStringLiteral("identified"),
                 {{QStringLiteral("serial"), g.Meter_Serial},
                  {QStringLiteral("model"), g.Model_Code},
                  {QStringLiteral("boot_version"), g.Boot_Version},
                  {QStringLiteral("firmware_version"), g.Firm_Version}});
}

void MeterJob::identify(MeterLink &link, TranscriptCommPort &port)
{
    bool found = false;
    const LinkResult reached = link.Check_Version(static_cast<std::int16_t>(port_), found);
    if (found) {
        identityFound(link, port);
        finish(MeterResult::Identified, {}, port);
        return;
    }
    if (reached == LinkResult::PortOpenFailed) {
        finish(MeterResult::Failed, openFailure(port), port);
        return;
    }
    // The probe's command switches a meter in normal mode that merely answered
    // badly, so it is sent only when asked for, and never once a stop is asked.
    if (!settings_.probeBoot || StopSignal::requested()) {
        const QByteArray heard = link.meter().Last_Reply;
        if (StopSignal::requested())
            finish(MeterResult::Interrupted, {}, port);
        else if (heard.isEmpty())
            finish(MeterResult::NoMeter, {}, port);
        else
            finish(MeterResult::Unreadable, Escaped::bytes(heard), port);
        return;
    }
    bool acknowledged = false;
    link.Probe_Boot(static_cast<std::int16_t>(port_), acknowledged);
    if (acknowledged)
        board_.event(index_, QStringLiteral("boot_loader"));
    finish(acknowledged ? MeterResult::BootLoader : MeterResult::NoMeter, {}, port);
}

bool MeterJob::identifyForUpgrade(MeterLink &link, TranscriptCommPort &port, AttemptRecorder &history)
{
    MeterState &g = link.meter();
    bool found = false;
    const LinkResult reached = link.Check_Version(static_cast<std::int16_t>(port_), found);
    if (!found && reached == LinkResult::PortOpenFailed) {
        finish(MeterResult::Failed, openFailure(port), port);
        return false;
    }
    // --boot: a meter that answers in normal mode after all is guarded by the
    // model it names, and switched as usual.
    if (!found && settings_.boot)
        return waitingBootLoader(link, port, history);
    if (!found) {
        finish(MeterResult::NoMeter, QStringLiteral("no meter answered"), port);
        return false;
    }
    identityFound(link, port);
    if (g.Model_Code != settings_.fileModel && !settings_.force) {
        const QString mismatch =
            QStringLiteral("meter is model %1, the file is for model %2 (--force overrides)")
                .arg(g.Model_Code, settings_.fileModel.isEmpty() ? QStringLiteral("unknown") : settings_.fileModel);
        history.notTouched(g, settings_.filePath, HistoryOutcome::ModelMismatch, mismatch);
        finish(MeterResult::Failed, mismatch, port);
        return false;
    }
    return true;
}

// A boot loader has no model: the one last identified on the same adapter
// (by its USB serial number), else on the same real device, stands for it.
// Without one, only --force sends it a file.
bool MeterJob::waitingBootLoader(MeterLink &link, TranscriptCommPort &port, AttemptRecorder &history)
{
    MeterState &g = link.meter();
    bool acknowledged = false;
    const LinkResult reached = link.Probe_Boot(static_cast<std::int16_t>(port_), acknowledged);
    if (!acknowledged) {
        if (reached == LinkResult::PortOpenFailed)
            finish(MeterResult::Failed, openFailure(port), port);
        else
            finish(MeterResult::NoMeter, QStringLiteral("no meter or boot loader answered"), port);
        return false;
    }
    g.Boot_Mode = true;
    StopSignal::setMayBeInBootLoader(port_, true);
    board_.event(index_, QStringLiteral("boot_loader"));
    port.note(QStringLiteral("boot loader answered"));
    if (settings_.force)
        return true;
    const DeviceIdentity &where = history.deviceIdentity();
    const QString on = where.usbSerial.isEmpty() ? settings_.map.deviceFor(port_)
                                                 : QStringLiteral("the adapter %1").arg(where.usbSerial);
    const QString expected = history.lastModelOnDevice();
    if (expected == settings_.fileModel)
        return true;
    const bool unknown = expected.isEmpty();
    const QString refusal =
        unknown ? QStringLiteral("no model is known for the boot loader on %1: no meter was identified there "
                                 "before (--force upgrades it whatever its model)")
                      .arg(on)
                : QStringLiteral("the meter last identified on %1 was model %2, the file is for model %3 "
                                 "(--force overrides)")
                      .arg(on, expected, settings_.fileModel);
    history.notTouched(g, settings_.filePath, unknown ? HistoryOutcome::ModelUnknown : HistoryOutcome::ModelMismatch,
                       refusal);
    finish(MeterResult::Failed, refusal, port);
    return false;
}

void MeterJob::upgrade(MeterLink &link, CliPrompts &prompts, TranscriptCommPort &port)
{
    AttemptRecorder history(QStringLiteral("ovfw"), settings_.map.deviceFor(port_));
    history.setFile(settings_.file);
    if (!identifyForUpgrade(link, port, history))
        return;
    if (StopSignal::requested()) {
        finish(MeterResult::Interrupted, QStringLiteral("stopped before the upgrade began"), port);
        return;
    }
    // As the window does between Connect and Upgrade.
    link.Com_Close();
    link.Com_Open();
    board_.update(index_, [](MeterStatus &s) { s.phase = QStringLiteral("boot loader"); });

    UpgradeFile file;
    RecordedUpgradeEvents events(board_, index_, history, link, port);
    UpgradeRun run(link, prompts, events, file);
    const TransferPolicy policy = TransferPolicy::unattended(settings_.retries);
    run.setPolicy(policy);
    run.setFileRules({settings_.checkContent, !settings_.force});
    StopSignal::setMayBeInBootLoader(port_, true);  // from the switch command on
    const UpgradeResult result = run.run(settings_.checkedFile);
    history.finished(link.meter(), result, settings_.filePath);
    if (!result.endAnswered && !result.versionAfter.isEmpty())
        history.verified(result.versionAfter, result.outcome == UpgradeOutcome::Completed);
    const bool stopped = StopSignal::requested();
    const std::optional<bool> left = leftInBootLoader(link.meter(), result);
    StopSignal::setMayBeInBootLoader(port_, left != false);
    board_.update(index_, [&](MeterStatus &s) {
        s.retries = result.retries;
        s.leftInBootLoader = left;
        s.lines = result.linesAccepted;
    });
    const QString stoppedAfter = QStringLiteral("stopped after line %1").arg(result.linesAccepted);
    const QString notRecovered = recoveryFailure(result, policy);
    if (!notRecovered.isEmpty() && !stopped) {
        finish(MeterResult::Failed, notRecovered, port);
        return;
    }
    if (result.lineQualityStopped && !stopped) {
        finish(MeterResult::Failed,
               QStringLiteral("line quality: %1 of the last %2 lines needed a retry (stopped at line %3)")
                   .arg(result.linesRetriedRecently)
                   .arg(policy.qualityWindowLines)
                   .arg(result.refusedLine),
               port);
        return;
    }
    switch (result.outcome) {
    case UpgradeOutcome::Completed:
        if (!result.endAnswered)
            finish(MeterResult::Completed,
                   QStringLiteral("upgrade complete, verified: the end record went unanswered, then the meter "
                                  "reported firmware %1")
                       .arg(result.versionAfter),
                   port);
        else if (settings_.verify)
            verify(link, port, history);
        else
            finish(MeterResult::Completed, QStringLiteral("upgrade complete"), port);
        return;
    case UpgradeOutcome::Stopped: finish(MeterResult::Interrupted, stoppedAfter, port); return;
    case UpgradeOutcome::UnexpectedEnd:
        if (stopped)
            finish(MeterResult::Interrupted, stoppedAfter, port);
        else if (result.refusedLine > 0)
            finish(MeterResult::Failed,
                   (result.refusal == MeterReply::NoAnswer ? QStringLiteral("line %1 not answered %2 times")
                                                           : QStringLiteral("line %1 refused %2 times"))
                       .arg(result.refusedLine)
                       .arg(prompts.retryLimit() + 1),
                   port);
        else
            finish(MeterResult::Failed, QStringLiteral("the file ended without the end-of-file record accepted last"), port);
        return;
    case UpgradeOutcome::Declined:
        finish(stopped ? MeterResult::Interrupted : MeterResult::Failed,
               stopped ? QStringLiteral("stopped before the boot loader") : QStringLiteral("the switch was declined"),
               port);
        return;
    case UpgradeOutcome::NotSwitched:
        finish(stopped ? MeterResult::Interrupted : MeterResult::Failed,
               stopped ? QStringLiteral("stopped while the switch to the boot loader went unacknowledged")
                       : QStringLiteral("the meter did not acknowledge the switch to its boot loader, "
                                        "even late; it may be in it"),
               port);
        return;
    case UpgradeOutcome::FileRefused:
        finish(MeterResult::Failed,
               result.fault.line > 0
                   ? QStringLiteral("the file failed its check: line %1: %2").arg(result.fault.line).arg(result.fault.description)
                   : QStringLiteral("the file failed its check: %1").arg(result.fault.description),
               port);
        return;
    case UpgradeOutcome::Failed:
        finish(MeterResult::Failed, QStringLiteral("%1: %2").arg(result.errorNumber).arg(result.errorDescription),
               port);
        return;
    case UpgradeOutcome::EndUnconfirmed:
        finish(stopped ? MeterResult::Interrupted : MeterResult::Failed,
               result.versionAfter.isEmpty()
                   ? QStringLiteral("end record unconfirmed: no answer to it, and the meter did not answer in "
                                    "normal mode after it")
                   : QStringLiteral("end record unconfirmed: no answer to it, and the meter then reported "
                                    "firmware %1, the file gives %2")
                         .arg(result.versionAfter, settings_.file.targetVersion),
               port);
        return;
    }
}

// The meter restarts into its new firmware: it is identified again (as often
// as it takes, for a while) and its firmware version compared with the file's.
void MeterJob::verify(MeterLink &link, TranscriptCommPort &port, AttemptRecorder &history)
{
    board_.update(index_, [](MeterStatus &s) { s.phase = QStringLiteral("verifying"); });
    MeterState &g = link.meter();
    g.Boot_Mode = false;
    g.Firm_Version.clear();
    const bool found = link.identifyWithin(TransferPolicy{}.restartSeconds, [] { return StopSignal::requested(); });
    const QString expected = settings_.file.targetVersion;
    const bool matches = found && UpgradeFile::sameVersion(g.Firm_Version, expected);
    history.verified(found ? g.Firm_Version : QString(), matches);
    if (matches) {
        finish(MeterResult::Completed, QStringLiteral("upgrade complete, verified: firmware %1").arg(g.Firm_Version),
               port);
    } else {
        finish(MeterResult::Failed,
               found ? QStringLiteral("not verified: the meter restarted with firmware %1, the file gives %2")
                           .arg(g.Firm_Version, expected)
                     : QStringLiteral("not verified: the meter did not answer after the upgrade"),
               port);
    }
}

void MeterJob::finish(MeterResult result, const QString &message, TranscriptCommPort &port)
{
    MeterStatus done;
    board_.update(index_, [&](MeterStatus &s) {
        s.result = result;
        s.message = message;
        s.phase = QStringLiteral("done");
        s.finishedAt = MonotonicClock::now();
        done = s;
    });
    port.note(QStringLiteral("result: %1%2").arg(resultName(result), message.isEmpty() ? QString() : ": " + message));
    board_.event(index_, QStringLiteral("result"),
                 {{QStringLiteral("result"), resultName(result)},
                  {QStringLiteral("message"), message},
                  {QStringLiteral("serial"), done.serial},
                  {QStringLiteral("lines"), done.lines},
                  {QStringLiteral("total_lines"), done.totalLines},
                  {QStringLiteral("seconds"), qRound((done.finishedAt - done.startedAt) * 1000) / 1000.0},
                  {QStringLiteral("retries"), done.retries},
                  {QStringLiteral("left_in_boot_loader"),
                   done.leftInBootLoader ? QJsonValue(*done.leftInBootLoader) : QJsonValue(QJsonValue::Null)}});
}
