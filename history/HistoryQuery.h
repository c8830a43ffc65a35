#pragma once
#include "history/AttemptRecord.h"
#include <QList>

class HistoryStore;

// What `ovfw history` asks of the store. Empty fields do not filter.
struct HistoryFilter {
    static constexpr int kDefaultLimit = 50;
    QString serial;
    int port = 0;
    QString sinceUtc;     // as stored: rows started at or after it
    bool failed = false;  // failed, stopped, left unfinished or interrupted
    int limit = kDefaultLimit;
};

namespace HistoryQuery {
// The rows, newest first; rows never completed carry "running" or
// "interrupted" as their outcome, as their process lives or not.
QList<AttemptRecord> find(HistoryStore &store, const HistoryFilter &filter);
// The model last identified on `device`, or empty.
QString lastModelOn(HistoryStore &store, const QString &device);
// Whether an outcome counts as failed for --failed.
bool isFailure(const QString &outcome);
}
