#include "cli/MeterReporter.h"
#include "FwUpVersion.h"
#include "base/MonotonicClock.h"
#include "cli/StopSignal.h"
#include "upgrade/AttemptRecorder.h"
#include "link/MeterState.h"
#include "link/TranscriptCommPort.h"
#include "upgrade/UpgradeRun.h"
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {
constexpr int kMostTranscriptsASecond = 100;  // of one meter in one place
}

MeterReporter::MeterReporter(MeterBoard &board, int index, TranscriptCommPort &transcript, QString logDir)
    : board_(board), index_(index), transcript_(transcript), logDir_(std::move(logDir))
{
}

void MeterReporter::started()
{
    board_.update(index_, [&](MeterStatus &s) {
        s.startedAt = MonotonicClock::now();
        s.phase = QStringLiteral("identifying");
    });
    startedStamp_ = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd'T'HHmmss"));
    if (!logDir_.isEmpty() && nameTranscript({})) {
        board_.update(index_, [&](MeterStatus &s) { s.transcript = transcript_.transcriptPath(); });
        transcript_.note(QStringLiteral("ovfw %1.%2.%3, %4, %5")
                             .arg(FwUpVersion::Major)
                             .arg(FwUpVersion::Minor)
                             .arg(FwUpVersion::Revision)
                             .arg(QDateTime::currentDateTime().toString(Qt::ISODate), address().title()));
    }
}

// A transcript is named by the meter's place, its serial once known, and the
// time its job began (A-OV3A01234-20261208T101500.log), so that no run
// overwrites another; a name taken within the same second gets a number.
bool MeterReporter::nameTranscript(const QString &serial)
{
    QStringList parts{address().fileStem()};
    if (!serial.isEmpty())
        parts << QString(serial).replace(QLatin1Char('/'), QLatin1Char('_'));
    parts << startedStamp_;
    const QString stem = QDir(logDir_).filePath(parts.join(QLatin1Char('-')));
    const bool open = !transcript_.transcriptPath().isEmpty();
    for (int n = 1; n <= kMostTranscriptsASecond; ++n) {
        const QString path = n == 1 ? stem + QStringLiteral(".log") : stem + QStringLiteral("-%1.log").arg(n);
        if (path == transcript_.transcriptPath())
            return true;
        if (open ? transcript_.renameTranscript(path) : transcript_.openTranscript(path))
            return true;
        if (!QFileInfo::exists(path))
            return false;  // not taken: it cannot be written at all
    }
    return false;
}

void MeterReporter::phase(const QString &name)
{
    board_.update(index_, [&](MeterStatus &s) { s.phase = name; });
}

void MeterReporter::note(const QString &text)
{
    transcript_.note(text);
}

void MeterReporter::event(const QString &name, const QString &text)
{
    board_.say(index_, text);
    transcript_.note(text);
    board_.event(index_, name, {{QStringLiteral("note"), text}});
}

void MeterReporter::identified(const MeterState &state)
{
    board_.update(index_, [&](MeterStatus &s) {
        s.serial = state.Meter_Serial;
        s.model = state.Model_Code;
        s.bootVersion = state.Boot_Version;
        s.firmVersion = state.Firm_Version;
    });
    transcript_.note(QStringLiteral("identified: serial %1, model %2, boot loader %3, firmware %4")
                         .arg(state.Meter_Serial, state.Model_Code, state.Boot_Version, state.Firm_Version));
    if (!state.Meter_Serial.isEmpty() && !transcript_.transcriptPath().isEmpty() && nameTranscript(state.Meter_Serial))
        board_.update(index_, [&](MeterStatus &s) { s.transcript = transcript_.transcriptPath(); });
    board_.event(index_, QStringLiteral("identified"),
                 {{QStringLiteral("serial"), state.Meter_Serial},
                  {QStringLiteral("model"), state.Model_Code},
                  {QStringLiteral("boot_version"), state.Boot_Version},
                  {QStringLiteral("firmware_version"), state.Firm_Version}});
}

void MeterReporter::bootLoaderAnswered(bool noted)
{
    board_.event(index_, QStringLiteral("boot_loader"));
    if (noted)
        transcript_.note(QStringLiteral("boot loader answered"));
}

void MeterReporter::mayBeInBootLoader(std::optional<bool> maybe)
{
    StopSignal::setMayBeInBootLoader(board_.at(index_).noteSlot, maybe != false);
}

void MeterReporter::notTouched(const MeterState &meter, const QString &filePath, const QString &outcome,
                               const QString &message, MeterResult result)
{
    if (history_)
        history_->notTouched(meter, filePath, outcome, message);
    finish(result, message);
}

void MeterReporter::upgradeEnded(const MeterState &meter, const UpgradeResult &result, const QString &filePath,
                                 std::optional<bool> leftInBootLoader)
{
    if (history_) {
        history_->finished(meter, result, filePath);
        if (!result.endAnswered && !result.versionAfter.isEmpty())
            history_->verified(result.versionAfter, result.outcome == UpgradeOutcome::Completed);
    }
    mayBeInBootLoader(leftInBootLoader);
    board_.update(index_, [&](MeterStatus &s) {
        s.retries = result.retries;
        s.leftInBootLoader = leftInBootLoader;
        s.lines = result.linesAccepted;
    });
}

void MeterReporter::finish(MeterResult result, const QString &message)
{
    MeterStatus done;
    board_.update(index_, [&](MeterStatus &s) {
        s.result = result;
        s.message = message;
        s.phase = QStringLiteral("done");
        s.finishedAt = MonotonicClock::now();
        done = s;
    });
    transcript_.note(
        QStringLiteral("result: %1%2").arg(resultName(result), message.isEmpty() ? QString() : ": " + message));
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

void MeterReporter::verified(const QString &firmwareAfter, bool matches, std::optional<bool> leftInBootLoader)
{
    if (history_) {
        history_->verified(firmwareAfter, matches);
        history_->markLeftInBootLoader(leftInBootLoader);
    }
    mayBeInBootLoader(leftInBootLoader);
    board_.update(index_, [&](MeterStatus &s) { s.leftInBootLoader = leftInBootLoader; });
}

void MeterReporter::removed(qint64 line)
{
    const std::optional<bool> left = board_.at(index_).leftInBootLoader;
    const std::optional<bool> maybe = left == false ? std::nullopt : left;  // pulled mid-way: nobody knows
    if (history_)
        history_->removed(line, maybe);
    mayBeInBootLoader(maybe);
    board_.update(index_, [&](MeterStatus &s) { s.leftInBootLoader = maybe; });
}

ReportedUpgradeEvents::ReportedUpgradeEvents(MeterReporter &reporter, const MeterState &meter,
                                             const FileFacts &file)
    : CliUpgradeEvents(reporter.board(), reporter.index()), reporter_(reporter), meter_(meter), file_(file)
{
}

void ReportedUpgradeEvents::restartSuspected(qint64 line)
{
    reporter_.event(QStringLiteral("meter_restarted"),
                    QStringLiteral("the meter fell silent at line %1; looking for its boot loader").arg(line));
}

void ReportedUpgradeEvents::bootLoaderFoundAgain()
{
    reporter_.event(QStringLiteral("meter_restarted"),
                    QStringLiteral("boot loader answered; the file is sent again from its start"));
}

void ReportedUpgradeEvents::meterChanging(const QString &filePath, const UpgradeImage &)
{
    reporter_.note(QStringLiteral("file %1, sha256 %2").arg(file_.path, file_.sha256));
    if (AttemptRecorder *history = reporter_.history()) {
        history->setFile(file_);
        history->started(meter_, filePath);
    }
}

void ReportedUpgradeEvents::progressAdvanced(const UpgradeProgress &progress)
{
    CliUpgradeEvents::progressAdvanced(progress);
    if (AttemptRecorder *history = reporter_.history())
        history->progressed(progress.linesRead - 1);  // the line counted goes out next
}
