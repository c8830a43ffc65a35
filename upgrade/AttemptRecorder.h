#pragma once
#include "history/AttemptRecord.h"
#include "upgrade/FileFacts.h"
#include "link/DeviceIdentity.h"
#include "link/MeterAddress.h"
#include <memory>
#include <optional>

class HistoryStore;
struct MeterState;
struct UpgradeResult;

// Records one face's upgrade attempts of one meter in the history: a row
// before the meter is first changed, the lines acknowledged now and then
// while it runs, completed when the attempt ends. Used on one thread only;
// the store is opened there on the first row.
class AttemptRecorder {
public:
    AttemptRecorder(const QString &face, const MeterAddress &meter);
    ~AttemptRecorder();

    // The facts of the image the attempt sends (its facts()). A row of another
    // file holds only what that file's name says: the file is never read here.
    void setFile(const FileFacts &facts) { file_ = facts; }
    // A station's meter: its station, operator and profile, for every row.
    struct StationFacts {
        QString station;
        QString operatorName;
        QString profileSha256;
    };
    void setStation(const StationFacts &facts) { station_ = facts; }

    // The meter is about to be changed: the row says so.
    void started(const MeterState &meter, const QString &filePath);
    // Between two lines: so many acknowledged so far. Written at most every
    // kProgressWriteSeconds, and skipped while another writer holds the
    // history, so the meter never waits for it.
    void progressed(qint64 linesAccepted);
    static constexpr double kProgressWriteSeconds = 5.0;
    // The end of the attempt. An attempt that never started is recorded
    // only when a meter was reached and declined: the warning's Cancel.
    void finished(const MeterState &meter, const UpgradeResult &result, const QString &filePath);
    // What the restarted meter named after the upgrade, for the last row.
    void verified(const QString &firmwareAfter, bool matches);
    // Learnt after the last row ended: whether the meter is left in its
    // boot loader (one that never started its new firmware).
    void markLeftInBootLoader(std::optional<bool> left);
    // The last row's meter was pulled from its socket at `line`: that is
    // why it failed, whatever the port said.
    void removed(qint64 line, std::optional<bool> leftInBootLoader);
    // A meter reached but not touched, for `outcome` (model mismatch, file
    // refused): one completed row.
    void notTouched(const MeterState &meter, const QString &filePath, const QString &outcome, const QString &text);

    // The model last identified on this recorder's device, or empty: what a
    // meter found only in its boot loader there most likely is. The device is
    // its adapter where that has a USB serial number, else its real device.
    QString lastModelOnDevice();
    // The last row of this recorder's station socket, or of its adapter.
    std::optional<AttemptRecord> lastAtSocket();
    const DeviceIdentity &deviceIdentity();

    qint64 rowId() const { return record_.id; }

private:
    void fill(const MeterState &meter, const QString &filePath);
    HistoryStore &store();

    QString face_;
    MeterAddress meter_;
    std::unique_ptr<DeviceIdentity> identity_;  // looked up once, when first needed
    double progressWrittenAt_ = 0;               // monotonic seconds
    FileFacts file_;
    StationFacts station_;
    AttemptRecord record_;
    std::unique_ptr<HistoryStore> store_;
};
