#include "upgrade/AttemptRecorder.h"
#include "base/MonotonicClock.h"
#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include "history/ProcessIdentity.h"
#include "link/MeterState.h"
#include "upgrade/BootLoaderState.h"
#include "upgrade/UpgradeFileName.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeRun.h"
#include <QFileInfo>

namespace {
QString outcomeName(UpgradeOutcome outcome)
{
    switch (outcome) {
    case UpgradeOutcome::Completed: return HistoryOutcome::Completed;
    case UpgradeOutcome::UnexpectedEnd: return HistoryOutcome::UnexpectedEnd;
    case UpgradeOutcome::Declined: return HistoryOutcome::Declined;
    case UpgradeOutcome::NotSwitched: return HistoryOutcome::NotSwitched;
    case UpgradeOutcome::Failed: return HistoryOutcome::Failed;
    case UpgradeOutcome::Stopped: return HistoryOutcome::Stopped;
    case UpgradeOutcome::FileRefused: return HistoryOutcome::FileRefused;
    case UpgradeOutcome::EndUnconfirmed: return HistoryOutcome::EndUnconfirmed;
    }
    return HistoryOutcome::Failed;
}
}

AttemptRecorder::AttemptRecorder(const QString &face, const MeterAddress &meter) : face_(face), meter_(meter) {}

AttemptRecorder::~AttemptRecorder() = default;

const DeviceIdentity &AttemptRecorder::deviceIdentity()
{
    if (!identity_)
        identity_ = std::make_unique<DeviceIdentity>(DeviceIdentity::of(meter_.devicePath()));
    return *identity_;
}

HistoryStore &AttemptRecorder::store()
{
    if (!store_)
        store_ = std::make_unique<HistoryStore>();
    return *store_;
}

void AttemptRecorder::fill(const MeterState &meter, const QString &filePath)
{
    // The file is never read here: the row holds the facts of what was
    // checked and sent, or, for another file, only what its name says.
    const QString absolute = QFileInfo(filePath).absoluteFilePath();
    if (file_.path != absolute) {
        file_ = FileFacts{};
        file_.path = absolute;
        file_.targetVersion = UpgradeFileName::versionText(filePath).trimmed();
    }
    const ProcessIdentity &self = ProcessIdentity::current();
    record_ = AttemptRecord{};
    record_.startedUtc = HistoryStore::nowUtc();
    record_.host = self.host;
    record_.user = self.user;
    record_.face = face_;
    record_.pid = self.pid;
    record_.processStart = self.start;
    record_.bootId = self.bootId;
    record_.port = meter_.portNumber();  // 0: a meter named by its device
    record_.device = meter_.devicePath();
    record_.realDevice = deviceIdentity().realDevice;
    record_.usbSerial = deviceIdentity().usbSerial;
    record_.serial = meter.Meter_Serial;
    record_.model = meter.Model_Code == MeterState::kAnyModel ? QString() : meter.Model_Code;
    record_.bootVersion = meter.Boot_Version;
    record_.firmwareVersion = meter.Firm_Version;
    record_.foundInBootLoader = meter.Boot_Mode;
    record_.filePath = file_.path;
    record_.fileSize = file_.size;
    record_.fileSha256 = file_.sha256;
    record_.targetVersion = file_.targetVersion;
    record_.station = station_.station;
    record_.operatorName = station_.station.isEmpty() || !station_.operatorName.isEmpty() ? station_.operatorName
                                                                                          : self.user;
    record_.socket = meter_.socketName();
    record_.profileSha256 = station_.profileSha256;
    record_.linesTotal = file_.lines;
}

void AttemptRecorder::started(const MeterState &meter, const QString &filePath)
{
    if (!record_.startedUtc.isEmpty()) {
        // Started again while a row is open: the meter restarted mid-file.
        record_.endedUtc = HistoryStore::nowUtc();
        record_.outcome = HistoryOutcome::Restarted;
        store().complete(record_);
        record_.startedUtc.clear();
    }
    fill(meter, filePath);
    record_.id = store().insert(record_);
    progressWrittenAt_ = MonotonicClock::now();
}

void AttemptRecorder::progressed(qint64 linesAccepted)
{
    record_.linesSent = linesAccepted;
    const double now = MonotonicClock::now();
    if (record_.startedUtc.isEmpty() || now - progressWrittenAt_ < kProgressWriteSeconds)
        return;
    progressWrittenAt_ = now;
    store().linesSentSoFar(record_);
}

void AttemptRecorder::finished(const MeterState &meter, const UpgradeResult &result, const QString &filePath)
{
    const bool began = !record_.startedUtc.isEmpty();
    const bool refused = result.outcome == UpgradeOutcome::FileRefused;
    if (!began && result.outcome != UpgradeOutcome::Declined && !refused)
        return;  // no file chosen: nothing was attempted
    if (!began && refused)
        file_ = FileFacts{};  // a refused file's row names it, and no more
    else if (!began && result.checked)
        file_ = result.checked->facts();
    if (!began)
        fill(meter, filePath);
    record_.endedUtc = HistoryStore::nowUtc();
    record_.outcome = outcomeName(result.outcome);
    record_.errorNumber = result.errorNumber;
    record_.errorText = refused ? result.fault.description : result.errorDescription;
    record_.linesSent = result.linesAccepted;
    record_.retries = result.retries;
    record_.refusedLine = result.refusedLine;
    record_.leftInBootLoader = leftInBootLoader(meter, result);
    if (began)
        store().complete(record_);
    else
        record_.id = store().insert(record_);
    record_.startedUtc.clear();
}

void AttemptRecorder::notTouched(const MeterState &meter, const QString &filePath, const QString &outcome,
                                 const QString &text)
{
    fill(meter, filePath);
    record_.endedUtc = record_.startedUtc;
    record_.outcome = outcome;
    record_.errorText = text;
    record_.leftInBootLoader = meter.Boot_Mode;  // found there, and not touched
    record_.id = store().insert(record_);
    record_.startedUtc.clear();
}

QString AttemptRecorder::lastModelOnDevice()
{
    return HistoryQuery::lastModelOn(store(), deviceIdentity());
}

std::optional<AttemptRecord> AttemptRecorder::lastAtSocket()
{
    return HistoryQuery::lastAtSocket(store(), station_.station, meter_.socketName(), deviceIdentity().usbSerial);
}

void AttemptRecorder::markLeftInBootLoader(std::optional<bool> left)
{
    if (record_.id <= 0 || record_.leftInBootLoader == left)
        return;
    record_.leftInBootLoader = left;
    store().complete(record_);
}

void AttemptRecorder::removed(qint64 line, std::optional<bool> leftInBootLoader)
{
    if (record_.id <= 0 || record_.outcome.isEmpty())
        return;
    record_.outcome = HistoryOutcome::Failed;
    record_.errorNumber = 0;
    record_.errorText = QStringLiteral("removed at line %1").arg(line);
    record_.leftInBootLoader = leftInBootLoader;
    store().complete(record_);
}

void AttemptRecorder::verified(const QString &firmwareAfter, bool matches)
{
    record_.firmwareAfter = firmwareAfter;
    record_.verified = matches ? 1 : 0;
    store().verified(record_);
}
