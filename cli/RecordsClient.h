#pragma once
#include "history/AttemptRecord.h"
#include "history/HistoryQuery.h"
#include <QString>
#include <functional>
#include <memory>

// What the commands ask of the records server, in terms of their own: the
// server a command is told to use, `history --server`, and the push of the
// rows a command writes. RecordsClient.cpp answers with the records/ client;
// a build without it (OVFW_RECORDS_CLIENT off) has NoRecordsClient.cpp
// instead, which says so.
namespace RecordsClient {
// Why the server named by --server (`option`), else by a station profile's
// [records] server, else by OVFW_HISTORY_SERVER, cannot be used, prefixed
// with where it was named; empty when it can, or when none is named.
QString serverProblem(const QString &option, const QString &profileServer);

// `ovfw history --server URL`: the server's rows, newest first, handed over
// as they are read; false with `problem` (naming the server) when they could
// not be read.
bool forEachOnServer(const QString &url, const HistoryFilter &filter,
                     const std::function<void(const AttemptRecord &)> &row, QString &problem);
}

// The rows a command writes, pushed in the background to the records server
// its profile or OVFW_HISTORY_SERVER names, so that no meter waits for it.
// None named: nothing is pushed. A server that cannot be used is said once
// on standard error, and the command goes on without it: the rows wait in
// the local history.
class RecordsPushing {
public:
    explicit RecordsPushing(const QString &profileServer);
    ~RecordsPushing();
    RecordsPushing(const RecordsPushing &) = delete;
    RecordsPushing &operator=(const RecordsPushing &) = delete;

    // From any thread: a row is written, push soon.
    void request();
    // The last push, waited for at most its deadline (and a little grace); a
    // push still hanging after that is left behind and the process ends with
    // `exitStatus` at once.
    void finish(int exitStatus);

private:
    struct Running;
    std::unique_ptr<Running> running_;  // none without a server
};
