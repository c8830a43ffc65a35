#include "upgrade/UpgradeRun.h"
#include "base/FwUpErrors.h"
#include "base/Prompts.h"
#include "link/EventWait.h"
#include "link/MeterLink.h"
#include "upgrade/CheckedFile.h"
#include "upgrade/UpgradeFile.h"

namespace {
const QString kAnyModel = QStringLiteral("*");  // a meter found only in its boot loader
}

UpgradeRun::UpgradeRun(MeterLink &link, Prompts &prompts, UpgradeEvents &events, UpgradeFile &file)
    : link_(link), prompts_(prompts), events_(events), file_(file)
{
}

UpgradeResult UpgradeRun::run(QString &fileName)
{
    result_ = UpgradeResult{};
    try {
        const std::optional<QString> chosen = prompts_.ShowOpen(
            UpgradeFile::kDialogTitle, UpgradeFile::dialogFilter(link_.meter().Model_Code), fileName);
        if (!chosen)
            throw FwUpError(FwUpErrorNumber::DialogCancelled);
        fileName = *chosen;
        if (fileRefused(fileName)) {
            result_.outcome = UpgradeOutcome::FileRefused;
            return result_;
        }
        events_.versionAnnounced(UpgradeFile::versionText(fileName));

        if (!link_.meter().Boot_Mode) {
            if (prompts_.MsgBox(Questions::upgradeWarning(fileName)) != MsgAnswer::OK) {
                result_.outcome = UpgradeOutcome::Declined;
                return result_;
            }
            events_.meterChanging(fileName, *checked_);
            bool abort = false;
            enterBootLoader(abort);
            if (abort) {
                result_.outcome = UpgradeOutcome::NotSwitched;
                return result_;
            }
        } else {
            events_.meterChanging(fileName, *checked_);
        }
        transfer();
    } catch (const FwUpError &e) {
        file_.close();
        if (e.number() != FwUpErrorNumber::DialogCancelled)
            prompts_.MsgBox(Questions::upgradeError(e.code(), e.description()));
        result_.outcome = UpgradeOutcome::Failed;
        result_.errorNumber = e.code();
        result_.errorDescription = e.description();
    }
    return result_;
}

// Reads and checks the chosen file (unless it was read already); a file that
// fails is told in one box. A file that cannot be read at all goes to the
// error handler, as it always has.
bool UpgradeRun::fileRefused(const QString &path)
{
    if (!checked_ || checked_->path() != path) {
        events_.fileOpening();
        checked_ = std::make_shared<const CheckedFile>(path);
    }
    const FileCheckReport &report = checked_->report();
    if (checked_->errorNumber() != 0)
        throw FwUpError(static_cast<FwUpErrorNumber>(checked_->errorNumber()));
    FileFault &fault = result_.fault;
    const bool contentFault = !report.ok && (rules_.content || report.lineTooLong);
    const QString fileModel = UpgradeFileName::modelCode(path);
    const QString meterModel = link_.meter().Model_Code.toUpper();
    if (contentFault) {
        fault.line = report.faultLine;
        fault.description = report.fault;
        fault.shownLine = report.faultText.isEmpty() ? QString() : HexRecord::shown(report.faultText);
    } else if (rules_.model && !fileModel.isEmpty() && !meterModel.isEmpty() && meterModel != kAnyModel &&
               fileModel != meterModel) {
        fault.modelMismatch = true;
        fault.description = QStringLiteral("the file is for model %1, this meter is model %2").arg(fileModel, meterModel);
    } else {
        return false;
    }
    prompts_.MsgBox(Questions::fileRefused(fault.line, fault.description, fault.shownLine));
    return true;
}

void UpgradeRun::enterBootLoader(bool &abort)
{
    for (;;) {
        bool accepted = false;
        link_.Enter_Boot_Loader(accepted);
        if (!accepted) {
            if (prompts_.MsgBox(Questions::notResponding()) == MsgAnswer::OK) {
                ++result_.retries;
                continue;
            }
            // That was the last attempt; a slow meter may still say it switched.
            if (lateSwitchWait_ > 0)
                link_.Await_Late_Acknowledge(lateSwitchWait_, accepted);
            if (!accepted) {
                link_.Com_Close();
                abort = true;
                return;
            }
        }
        link_.meter().Boot_Mode = true;
        result_.bootEntered = true;
        return;
    }
}

void UpgradeRun::transfer()
{
    events_.fileOpening();
    link_.Com_Open();
    checked_->openCopy(file_);
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
        progress.advance(line.size(), UpgradeFile::lineEndChars(file_.lastLineEnd()));
        events_.progressAdvanced(progress);
        EventWait::yieldOnce();
        sendLine(line, progress.linesRead, abort);
        if (!abort)
            result_.linesAccepted = progress.linesRead;
    }

    events_.headingRestored();
    file_.close();
    if (stopped) {
        events_.progressHidden();
        result_.outcome = UpgradeOutcome::Stopped;
        return;
    }
    // A line the meter refused is not complete, even when it is the end record.
    const bool complete = !abort && UpgradeFile::isEndRecord(line);
    prompts_.MsgBox(complete ? Questions::upgradeComplete() : Questions::unexpectedEnd());
    events_.progressHidden();
    result_.outcome = complete ? UpgradeOutcome::Completed : UpgradeOutcome::UnexpectedEnd;
}

void UpgradeRun::sendLine(const QByteArray &line, qint64 lineNumber, bool &abort)
{
    while (!abort) {
        MeterReply reply = MeterReply::NoAnswer;
        link_.Send_Line(line, reply);
        if (reply == MeterReply::Accepted)
            return;
        if (prompts_.MsgBox(Questions::lineRefused(lineNumber, line, reply)) != MsgAnswer::Retry) {
            abort = true;
            result_.refusedLine = lineNumber;
            result_.refusal = reply;
        } else {
            ++result_.retries;
        }
    }
}
