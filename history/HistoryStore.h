#pragma once
#include "history/AttemptRecord.h"
#include <QSqlDatabase>
#include <QString>

// The upgrade history: one SQLite database per user (or per bench, where
// OVFW_HISTORY names a shared one). Each store holds its own connection, to be
// used only on the thread that made it, as Qt's SQL connections must be.
//
// The store is never in the way of an upgrade: when it cannot be opened or
// written, one line goes to standard error (once per process) and every call
// after does nothing. A store opened to read says instead why it cannot be
// read (problem()), for its reader to tell. A file SQLite finds corrupt or not a database is moved
// aside under a name with the time and a new one started; a database of a
// newer schema is left alone, read but never written.
class HistoryStore {
public:
    static constexpr const char *kEnvironmentVariable = "OVFW_HISTORY";
    static constexpr int kSchemaVersion = 5;
    static constexpr int kBusyTimeoutMs = 5000;  // writers wait for each other this long at most

    enum class Access { Write, Read };

    // OVFW_HISTORY, else ${XDG_STATE_HOME:-~/.local/state}/ovfw-upgrade/history.sqlite.
    static QString defaultPath();
    // Now, as stored: UTC, ISO 8601 with milliseconds.
    static QString nowUtc();

    explicit HistoryStore(Access access = Access::Write, const QString &path = defaultPath());
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    bool isOpen() const { return open_; }
    bool isWritable() const { return open_ && writable_; }
    // Why the history exists but cannot be used; empty when it can, or when
    // there is none yet.
    const QString &problem() const { return problem_; }
    // A read that failed part-way: its reason becomes the problem. Always false.
    bool readFailed(const QString &why);
    const QString &path() const { return path_; }
    QSqlDatabase database() const;

    // The row of an attempt starting, with a new UUID and its first
    // revision; its id, or 0 when it was not written.
    qint64 insert(AttemptRecord &record);
    // The lines acknowledged so far in the unfinished attempt `record.id`,
    // written now, or not at all while another connection is writing: no
    // wait. False when it was not written.
    bool linesSentSoFar(const AttemptRecord &record);
    // The end of the attempt `record.id`.
    bool complete(const AttemptRecord &record);
    // What the meter said after restarting, for the attempt `record.id`.
    bool verified(const AttemptRecord &record);

    // One line on standard error, the first time only in this process.
    static void note(const QString &text);
    // Called once on the main thread before any other thread may open a
    // store: Qt SQL registers its exit clean-up the first time its drivers
    // are looked up, with an unguarded flag; two threads doing that first
    // at once register it twice, and the process then never ends (its
    // clean-up registers itself again forever).
    static void prepareForThreads();

private:
    bool openConnection();
    bool prepare();
    bool migrate(int from);
    void moveAside();
    void close();
    bool failed(const QString &what, const QString &why);

    Access access_;
    QString path_;
    QString connection_;
    QString problem_;
    bool open_ = false;
    bool writable_ = false;
};
