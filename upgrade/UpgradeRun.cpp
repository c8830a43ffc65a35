#include "upgrade/UpgradeRun.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include "base/Prompts.h"
#include "link/CommPort.h"
#include "link/EventWait.h"
#include "link/MeterLink.h"
#include "upgrade/UpgradeFile.h"
#include <QDir>

namespace {
constexpr double kDrainSeconds = 0.2;  // replies to the quiet command are discarded
const QString kWarning = QStringLiteral(
    "Warning! Starting firmware upgrade will render the device inoperable until new firmware "
    "upgrade is complete.\r\nReady to download ");
const QString kNotResponding = QStringLiteral("Hardware not responding, check connections, try again ");
const QString kErrorSending = QStringLiteral("Error sending ");
const QString kComplete = QStringLiteral("Upgrade Complete.");
const QString kUnexpectedEnd = QStringLiteral("Unexpected end of file");
const QString kShortened = QStringLiteral("...");
}

UpgradeRun::UpgradeRun(MeterLink &link, Prompts &prompts, UpgradeEvents &events, UpgradeFile &file)
    : link_(link), prompts_(prompts), events_(events), file_(file)
{
}

UpgradeResult UpgradeRun::run(QString &fileName)
{
    try {
        const std::optional<QString> chosen =
            prompts_.ShowOpen(UpgradeFile::kDialogTitle, UpgradeFile::dialogFilter(link_.globals().Model_Code),
                              fileName);
        if (!chosen)
            throw FwUpError(FwUpErrorNumber::DialogCancelled);
        fileName = *chosen;
        events_.versionAnnounced(UpgradeFile::versionText(fileName));

        bool abort = false;
        if (!link_.globals().Boot_Mode) {
            const MsgAnswer answer = prompts_.MsgBox(
                kWarning + fileName, MsgStyle::OkCancel + MsgStyle::Exclamation + MsgStyle::DefaultButton2, kTitle);
            if (answer == MsgAnswer::OK)
                enterBootLoader(abort);
            else
                abort = true;
        }
        if (abort)
            return {UpgradeOutcome::Abandoned, 0, {}};
        return transfer(fileName);
    } catch (const FwUpError &e) {
        file_.close();
        if (e.number() != FwUpErrorNumber::DialogCancelled)
            prompts_.MsgBox(QStringLiteral(" File Error: \n%1: '%2'").arg(e.code()).arg(e.description()),
                            MsgStyle::OkOnly, QString());
        return {UpgradeOutcome::Failed, e.code(), e.description()};
    }
}

void UpgradeRun::enterBootLoader(bool &abort)
{
    CommPort &port = link_.port();
    for (;;) {
        port.output(MeterLink::kQuietCommand);
        drainAfterQuiet();
        port.output(MeterLink::kUpgradeModeCommand);
        bool accepted = false;
        link_.Acknowledge(accepted);
        if (accepted) {
            link_.globals().Boot_Mode = true;
            return;
        }
        if (prompts_.MsgBox(kNotResponding, MsgStyle::OkCancel + MsgStyle::Information, kTitle) != MsgAnswer::OK) {
            link_.Com_Close();
            abort = true;
            return;
        }
    }
}

void UpgradeRun::drainAfterQuiet()
{
    // Whatever the meter says to the quiet command is read and dropped, while
    // the thread keeps serving its events.
    CommPort &port = link_.port();
    const double end = MonotonicClock::now() + kDrainSeconds;
    for (;;) {
        EventWait::yieldOnce();
        if (port.inBufferCount() > 0)
            port.input();
        if (MonotonicClock::now() >= end)
            return;
        if (port.inBufferCount() == 0)
            EventWait::sleepUntil(end, &port);
    }
}

UpgradeResult UpgradeRun::transfer(const QString &path)
{
    FwUpGlobals &g = link_.globals();
    if (!g.App_Path.isEmpty())
        QDir::setCurrent(g.App_Path);
    link_.Com_Open();
    file_.open(path);
    UpgradeProgress progress = UpgradeProgress::forFileSize(file_.size());
    events_.progressShown(progress);

    bool abort = false, stopped = false;
    QByteArray line;  // the last line read
    while (!file_.atEnd() && !abort) {
        if (events_.stopRequested()) {
            stopped = true;
            break;
        }
        line = file_.readLine();
        progress.advance(line.size());
        events_.progressAdvanced(progress);
        EventWait::yieldOnce();
        sendLine(line, abort);
    }

    events_.headingRestored();
    file_.close();
    if (stopped) {
        events_.progressHidden();
        return {UpgradeOutcome::Stopped, 0, {}};
    }
    // A line the meter refused is not complete, even when it is the end record.
    const bool complete = !abort && UpgradeFile::isEndRecord(line);
    prompts_.MsgBox(complete ? kComplete : kUnexpectedEnd, MsgStyle::OkOnly + MsgStyle::Information, kTitle);
    events_.progressHidden();
    return {complete ? UpgradeOutcome::Completed : UpgradeOutcome::UnexpectedEnd, 0, {}};
}

void UpgradeRun::sendLine(const QByteArray &line, bool &abort)
{
    const QByteArray onTheWire = line + MeterLink::kCarriageReturn;
    while (!abort) {
        link_.port().output(onTheWire);
        bool accepted = false;
        link_.Acknowledge(accepted);
        if (accepted)
            return;
        if (prompts_.MsgBox(kErrorSending + shownLine(line), MsgStyle::RetryCancel + MsgStyle::Information, kTitle) !=
            MsgAnswer::Retry)
            abort = true;
    }
}

QString UpgradeRun::shownLine(const QByteArray &line)
{
    if (line.size() <= kShownLineChars)
        return QString::fromLatin1(line);
    return QString::fromLatin1(line.left(kShownLineChars)) + kShortened;
}
