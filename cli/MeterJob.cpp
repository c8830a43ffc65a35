#include "cli/MeterJob.h"
#include "link/VersionReply.h"
#include "base/Escaped.h"
#include "base/FwUpErrors.h"
#include "cli/CliPrompts.h"
#include "cli/MeterObservers.h"
#include "cli/MeterReporter.h"
#include "cli/MeterStack.h"
#include "cli/MeterUpgrade.h"
#include "cli/StopSignal.h"
#include "history/AttemptRecord.h"
#include "upgrade/AttemptRecorder.h"
#include "upgrade/UpgradeImage.h"
#include "link/MeterLink.h"
#include "link/QtCommPort.h"
#include "link/TranscriptCommPort.h"

MeterJob::MeterJob(int index, const MeterJobSettings &settings, MeterBoard &board)
    : index_(index), settings_(settings), board_(board)
{
}

void MeterJob::run()
{
    MeterStack meter(address(), settings_.map, board_, index_, settings_.logDir);
    try {
        if (settings_.mode == MeterJobSettings::Mode::Identify)
            identify(meter.link, meter.report);
        else
            upgrade(meter.link, meter.prompts, meter.report);
    } catch (const FwUpError &e) {
        meter.report.finish(MeterResult::Failed, QStringLiteral("%1: %2").arg(e.code()).arg(e.description()));
    } catch (const std::exception &e) {
        meter.report.finish(MeterResult::Failed, QString::fromLocal8Bit(e.what()));
    }
    meter.closeQuietly();
}

QString MeterJob::openFailure(PortState state) const
{
    const QString reason = portStateText(state);
    if (address().form() != MeterAddress::Form::Port)
        return QStringLiteral("%1 could not be opened: %2").arg(address().displayName(), reason);
    return QStringLiteral("%1 (%2) could not be opened: %3")
        .arg(address().displayName(), Escaped::text(address().devicePath()), reason);
}

void MeterJob::identify(MeterLink &link, MeterReporter &report)
{
    const LinkResult reached = link.checkVersion();
    if (reached == LinkResult::Answered) {
        report.identified(link.meter());
        report.finish(MeterResult::Identified, {});
        return;
    }
    if (reached == LinkResult::PortOpenFailed) {
        report.finish(MeterResult::Failed, openFailure(report.transcript().openState()));
        return;
    }
    // The probe's command switches a meter in normal mode that merely answered
    // badly, so it is sent only when asked for, and never once a stop is asked.
    if (!settings_.probeBoot || StopSignal::requested()) {
        const QByteArray heard = link.meter().lastReply;
        if (StopSignal::requested())
            report.finish(MeterResult::Interrupted, {});
        else if (heard.isEmpty())
            report.finish(MeterResult::NoMeter, {});
        else {
            if (VersionReply::isBootLoaderRefusal(heard))
                report.board().update(report.index(), [&](MeterStatus &s) {
                    s.hint = QStringLiteral("a meter waiting in its boot loader answers so; --probe-boot asks for one");
                });
            report.finish(MeterResult::Unreadable, Escaped::bytes(heard));
        }
        return;
    }
    const bool acknowledged = link.probeBoot() == LinkResult::Answered;
    if (acknowledged)
        report.bootLoaderAnswered(false);
    report.finish(acknowledged ? MeterResult::BootLoader : MeterResult::NoMeter, {});
}

bool MeterJob::identifyForUpgrade(MeterLink &link, MeterReporter &report)
{
    MeterState &state = link.meter();
    const LinkResult reached = link.checkVersion();
    const bool found = reached == LinkResult::Answered;
    if (!found && reached == LinkResult::PortOpenFailed) {
        report.finish(MeterResult::Failed, openFailure(report.transcript().openState()));
        return false;
    }
    // --boot: a meter that answers in normal mode after all is guarded by the
    // model it names, and switched as usual.
    if (!found && settings_.plan.boot)
        return waitingBootLoader(link, report);
    if (!found) {
        report.finish(MeterResult::NoMeter, QStringLiteral("no meter answered"));
        return false;
    }
    report.identified(state);
    if (state.Model_Code != settings_.plan.fileModel && settings_.plan.modelGuard) {
        report.notTouched(state, settings_.plan.filePath, HistoryOutcome::ModelMismatch,
                          QStringLiteral("meter is model %1, the file is for model %2 (--force overrides)")
                              .arg(state.Model_Code, settings_.plan.fileModel.isEmpty() ? QStringLiteral("unknown")
                                                                              : settings_.plan.fileModel));
        return false;
    }
    return true;
}

// A boot loader has no model: the one last identified on the same adapter
// (by its USB serial number), else on the same real device, stands for it.
// Without one, only --force sends it a file.
bool MeterJob::waitingBootLoader(MeterLink &link, MeterReporter &report)
{
    MeterState &state = link.meter();
    const LinkResult reached = link.probeBoot();
    if (reached != LinkResult::Answered) {
        if (reached == LinkResult::PortOpenFailed)
            report.finish(MeterResult::Failed, openFailure(report.transcript().openState()));
        else
            report.finish(MeterResult::NoMeter, QStringLiteral("no meter or boot loader answered"));
        return false;
    }
    state.Boot_Mode = true;
    report.mayBeInBootLoader(true);
    report.bootLoaderAnswered(true);
    if (!settings_.plan.modelGuard)
        return true;
    AttemptRecorder &history = *report.history();
    const DeviceIdentity &where = history.deviceIdentity();
    const QString on = where.usbSerial.isEmpty() ? address().devicePath()
                                                 : QStringLiteral("the adapter %1").arg(where.usbSerial);
    const QString expected = history.lastModelOnDevice();
    if (expected == settings_.plan.fileModel)
        return true;
    const bool unknown = expected.isEmpty();
    const QString refusal =
        unknown ? QStringLiteral("no model is known for the boot loader on %1: no meter was identified there "
                                 "before (--force upgrades it whatever its model)")
                      .arg(on)
                : QStringLiteral("the meter last identified on %1 was model %2, the file is for model %3 "
                                 "(--force overrides)")
                      .arg(on, expected, settings_.plan.fileModel);
    report.notTouched(state, settings_.plan.filePath, unknown ? HistoryOutcome::ModelUnknown : HistoryOutcome::ModelMismatch,
                      refusal);
    return false;
}

void MeterJob::upgrade(MeterLink &link, CliPrompts &prompts, MeterReporter &report)
{
    AttemptRecorder history(QStringLiteral("ovfw"), address());
    history.setFile(settings_.plan.checked->facts());
    report.recordInto(history);
    if (!identifyForUpgrade(link, report))
        return;
    if (StopSignal::requested()) {
        report.finish(MeterResult::Interrupted, QStringLiteral("stopped before the upgrade began"));
        return;
    }
    const UpgradeVerdict verdict = upgradeIdentifiedMeter(link, prompts, report, settings_.plan);
    report.finish(verdict.result, verdict.message);
}
