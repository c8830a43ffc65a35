#pragma once
#include "records/RecordsServerAddress.h"
#include <QSqlDatabase>
#include <QString>
#include <memory>

class DeadlineWatch;

// One connection to the records server, bounded as a whole by a deadline:
// libpq's connect_timeout bounds the connection (it takes no less than 2 s),
// and once connected a watch shuts the connection's socket down when the
// deadline passes, so that a server that stops answering mid-statement ends
// the statement at once with an error instead of never. Used on the thread
// that made it only, as every Qt SQL connection.
class RecordsSession {
public:
    enum class Failure { None, NoDriver, Unreachable };

    RecordsSession(const RecordsServerAddress &server, double deadlineSeconds);
    ~RecordsSession();
    RecordsSession(const RecordsSession &) = delete;
    RecordsSession &operator=(const RecordsSession &) = delete;

    Failure failure() const { return failure_; }
    bool isOpen() const { return failure_ == Failure::None; }
    // Why the connection failed, or the last statement's error.
    const QString &problem() const { return problem_; }
    QSqlDatabase database() const;
    // A new deadline `seconds` from now, for the next piece of work; false,
    // and nothing changed, when the old one has passed already.
    bool extendDeadline(double seconds);
    // Whether the deadline has passed (and so cut the connection).
    bool deadlinePassed() const;
    double secondsLeft() const;
    // A statement's error, with the deadline named when it was the cause.
    QString failedBecause(const QString &error) const;

    // Whether Qt's PostgreSQL driver is installed.
    static bool driverAvailable();
    static QString noDriverText();

private:
    QString connection_;
    double deadline_;  // on the monotonic clock
    Failure failure_ = Failure::None;
    QString problem_;
    std::unique_ptr<DeadlineWatch> watch_;
};
