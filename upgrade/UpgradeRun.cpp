#include "upgrade/UpgradeRun.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include "base/Prompts.h"
#include "link/MeterLink.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeFile.h"

UpgradeRun::UpgradeRun(MeterLink &link, Prompts &prompts, UpgradeEvents &events)
    : link_(link), prompts_(prompts), events_(events)
{
}

UpgradeRun::~UpgradeRun() = default;

bool UpgradeRun::fileOpen() const
{
    return reader_ && reader_->isOpen();
}

void UpgradeRun::closeFile()
{
    if (reader_)
        reader_->close();
}

UpgradeResult UpgradeRun::run(std::shared_ptr<const UpgradeImage> image)
{
    checked_ = std::move(image);
    return attempts();
}

// The first attempt, then one more from the file's start after each restart
// of the meter that its boot loader recovers from.
UpgradeResult UpgradeRun::attempts()
{
    quality_.emplace(policy_);
    UpgradeResult result = once();
    int restarts = 0, retries = result.retries, answeredLate = result.answeredLate;
    const bool bootEntered = result.bootEntered;
    auto recovery = UpgradeResult::Recovery::None;
    while (result.restartSuspected && !events_.stopRequested()) {
        if (restarts >= policy_.mostRestarts) {
            recovery = UpgradeResult::Recovery::RestartsSpent;
            break;
        }
        if (qualityStops(quality_->restarted(result.refusedLine), result))
            break;
        ++restarts;
        ++retries;
        events_.restartSuspected(result.refusedLine);
        if (!bootLoaderAnswers()) {
            recovery = UpgradeResult::Recovery::BootLoaderSilent;
            break;
        }
        events_.bootLoaderFoundAgain();
        link_.meter().Boot_Mode = true;
        result = once();
        retries += result.retries;
        answeredLate += result.answeredLate;
    }
    result.restarts = restarts;
    result.retries = retries;
    result.answeredLate = answeredLate;
    result.bootEntered = result.bootEntered || bootEntered;
    result.recovery = recovery;
    return result;
}

// A meter that restarted waits in its boot loader for the upgrade-mode
// command; it is asked again and again until it answers or time is up.
bool UpgradeRun::bootLoaderAnswers()
{
    const double deadline = MonotonicClock::now() + policy_.bootLoaderWaitSeconds;
    while (MonotonicClock::now() < deadline && !events_.stopRequested()) {
        if (link_.probeBoot() == LinkResult::Answered)
            return true;
    }
    return false;
}

UpgradeResult UpgradeRun::once()
{
    result_ = UpgradeResult{};
    try {
        if (!checked_)
            throw FwUpError(FwUpErrorNumber::FileNotOpen);  // handed no image
        const QString &fileName = checked_->path();
        result_.filePath = fileName;
        result_.checked = checked_;
        if (fileRefused()) {
            result_.outcome = UpgradeOutcome::FileRefused;
            return result_;
        }
        events_.versionAnnounced(checked_->versionText());

        if (!link_.meter().Boot_Mode) {
            if (prompts_.MsgBox(Questions::upgradeWarning(fileName)) != MsgAnswer::OK) {
                result_.outcome = UpgradeOutcome::Declined;
                return result_;
            }
            events_.meterChanging(fileName, *checked_);
            if (!enterBootLoader()) {
                result_.outcome = UpgradeOutcome::NotSwitched;
                return result_;
            }
        } else {
            events_.meterChanging(fileName, *checked_);
        }
        transfer();
    } catch (const FwUpError &e) {
        closeFile();
        prompts_.MsgBox(Questions::upgradeError(e.code(), e.description()));
        result_.outcome = UpgradeOutcome::Failed;
        result_.errorNumber = e.code();
        result_.errorDescription = e.description();
    }
    return result_;
}

// Whether the file fails its check or its model is another meter's: then it
// is told in one box. A file that cannot be read at all goes to the error
// handler instead.
bool UpgradeRun::fileRefused()
{
    const FileCheckReport &report = checked_->report();
    if (checked_->errorNumber() != 0)
        throw FwUpError(static_cast<FwUpErrorNumber>(checked_->errorNumber()));
    FileFault &fault = result_.fault;
    const bool contentFault = !report.ok && (rules_.content || report.lineTooLong);
    const QString &fileModel = checked_->modelCode();
    const QString meterModel = link_.meter().Model_Code.toUpper();
    if (contentFault) {
        fault.line = report.faultLine;
        fault.description = report.fault;
        fault.shownLine = report.faultText.isEmpty() ? QString() : HexRecord::shown(report.faultText);
    } else if (rules_.model && !fileModel.isEmpty() && !meterModel.isEmpty() && meterModel != MeterState::kAnyModel &&
               fileModel != meterModel) {
        fault.modelMismatch = true;
        fault.description = QStringLiteral("the file is for model %1, this meter is model %2").arg(fileModel, meterModel);
    } else {
        return false;
    }
    prompts_.MsgBox(Questions::fileRefused(fault.line, fault.description, fault.shownLine));
    return true;
}

bool UpgradeRun::enterBootLoader()
{
    for (int attempt = 1;; ++attempt) {
        bool accepted = link_.switchToBootLoader();
        if (!accepted && policy_.settleBeforeRepeat)
            accepted = switchAnsweredLate();
        if (!accepted) {
            Question question = Questions::notResponding(attempt);
            question.facts.repeatAllowed = policy_.allowsRepeat(attempt);
            if (prompts_.MsgBox(question) == MsgAnswer::OK) {
                ++result_.retries;
                continue;
            }
            // That was the last attempt; a slow meter may still say it switched.
            if (policy_.lateSwitchSeconds > 0)
                accepted = link_.awaitLateAcknowledge(policy_.lateSwitchSeconds);
            if (!accepted) {
                link_.Com_Close();
                return false;
            }
        }
        link_.meter().Boot_Mode = true;
        result_.bootEntered = true;
        return true;
    }
}

// A switch that went unanswered may be acknowledged while the line settles;
// a repeat sent before that answer would be answered by it instead.
bool UpgradeRun::switchAnsweredLate()
{
    if (link_.settle(policy_.settle) != MeterReply::Accepted)
        return false;
    ++result_.answeredLate;
    return true;
}
