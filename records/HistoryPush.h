#pragma once
#include "records/RecordsServerAddress.h"
#include <QString>
#include <QtGlobal>

class HistoryStore;

// Copies to the records server every local row whose latest revision the
// server has not taken, a batch at a time: each batch is one transaction on
// the server, and only after its COMMIT does the local history mark its rows
// as taken. A push cut off anywhere therefore loses nothing, and one run
// again sends at most the batch in flight a second time, which the server
// keeps once (a row is replaced only by a newer revision of it).
struct PushSettings {
    // The whole push (connect, statements, COMMIT), or with `deadlineEachBatch`
    // the connection and then each batch: a large backlog goes in one run,
    // and a server that stops answering still stops the push within it.
    static constexpr double kDeadlineSeconds = 5;
    static constexpr int kBatchRows = 5000;        // rows per transaction
    // For tests that need a push to stand still in its middle:
    // OVFW_PUSH_BATCH_ROWS makes batches smaller, and OVFW_PUSH_PAUSE_LOCK
    // names an advisory lock each batch after the first waits for before
    // its COMMIT (shared, so a test that holds it stops the push there).
    static constexpr const char *kBatchRowsVariable = "OVFW_PUSH_BATCH_ROWS";
    static constexpr const char *kPauseLockVariable = "OVFW_PUSH_PAUSE_LOCK";

    double deadlineSeconds = kDeadlineSeconds;
    bool deadlineEachBatch = false;
    int batchRows = kBatchRows;
    qint64 pauseLock = 0;  // 0: none

    static PushSettings fromEnvironment();
};

struct PushOutcome {
    enum class Kind {
        Done,           // every row taken (or none to take)
        Cut,            // the deadline came with rows still to send, or in a batch
        NoDriver,       // Qt's PostgreSQL driver is missing
        Unreachable,    // no connection
        NoTable,        // the server has no records table yet
        Failed,         // a statement failed or the connection broke
        LocalUnusable,  // the local history cannot be read or marked
    };
    Kind kind = Kind::Done;
    qint64 pushed = 0;   // rows the server took in this push
    qint64 waiting = 0;  // rows left for the next push
    QString problem;
    bool done() const { return kind == Kind::Done; }
    // One line for standard error, naming the server.
    QString describe(const RecordsServerAddress &server) const;
};

PushOutcome pushHistory(HistoryStore &local, const RecordsServerAddress &server, const PushSettings &settings);
