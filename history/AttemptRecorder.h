#pragma once
#include "history/AttemptRecord.h"
#include "history/FileFacts.h"
#include <memory>

class HistoryStore;
struct MeterState;
struct UpgradeResult;

// Records one face's upgrade attempts of one meter in the history: a row
// before the meter is first changed, completed when the attempt ends. Used on
// one thread only; the store is opened there on the first row.
class AttemptRecorder {
public:
    AttemptRecorder(const QString &face, const QString &device);
    ~AttemptRecorder();

    // Facts of the file worked out already (ovfw reads the file once for all
    // its meters); otherwise they are read when the row is written.
    void setFile(const FileFacts &facts) { file_ = facts; }

    // The meter is about to be changed: the row says so.
    void started(const MeterState &meter, const QString &filePath);
    // The end of the attempt. An attempt that never started is recorded
    // only when a meter was reached and declined: the warning's Cancel.
    void finished(const MeterState &meter, const UpgradeResult &result, const QString &filePath);
    // A meter reached but not touched, for `outcome` (model mismatch, file
    // refused): one completed row.
    // What the restarted meter named after the upgrade, for the last row.
    void verified(const QString &firmwareAfter, bool matches);
    void notTouched(const MeterState &meter, const QString &filePath, const QString &outcome, const QString &text);

    // The model last identified on this recorder's device, or empty: what a
    // meter found only in its boot loader there most likely is.
    QString lastModelOnDevice();

    qint64 rowId() const { return record_.id; }

private:
    void fill(const MeterState &meter, const QString &filePath);
    HistoryStore &store();

    QString face_;
    QString device_;
    FileFacts file_;
    AttemptRecord record_;
    std::unique_ptr<HistoryStore> store_;
};
