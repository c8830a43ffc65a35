#include "records/RecordsSession.h"
#include "base/MonotonicClock.h"
#include <QAtomicInt>
#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <libpq-fe.h>
#include <mutex>
#include <sys/socket.h>
#include <thread>

namespace {
const QString kDriver = QStringLiteral("QPSQL");
constexpr int kLeastConnectTimeoutSeconds = 2;  // libpq takes no less
QAtomicInt sessionCounter;
}

// Shuts a connected socket down when the deadline passes, unless stopped
// before or given a later deadline. The socket stays open (its owner closes
// it); only its traffic ends.
class DeadlineWatch {
public:
    DeadlineWatch(int socket, double deadline) : deadline_(deadline), thread_([this, socket] { watch(socket); }) {}
    ~DeadlineWatch()
    {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            stopped_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    DeadlineWatch(const DeadlineWatch &) = delete;
    DeadlineWatch &operator=(const DeadlineWatch &) = delete;

    void setDeadline(double deadline)
    {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            deadline_ = deadline;
        }
        wake_.notify_all();
    }

private:
    void watch(int socket)
    {
        std::unique_lock<std::mutex> hold(mutex_);
        while (!stopped_) {
            const double left = deadline_ - MonotonicClock::now();
            if (left <= 0) {
                ::shutdown(socket, SHUT_RDWR);
                return;
            }
            const double waitedFor = deadline_;
            wake_.wait_for(hold, std::chrono::duration<double>(left),
                           [&] { return stopped_ || deadline_ != waitedFor; });
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopped_ = false;
    double deadline_;  // on the monotonic clock
    std::thread thread_;
};

bool RecordsSession::driverAvailable()
{
    return QSqlDatabase::isDriverAvailable(kDriver);
}

QString RecordsSession::noDriverText()
{
    return QStringLiteral("Qt's PostgreSQL driver is not installed (install libqt6sql6-psql)");
}

RecordsSession::RecordsSession(const RecordsServerAddress &server, double deadlineSeconds)
    : connection_(QStringLiteral("ovfw-records-%1").arg(sessionCounter.fetchAndAddOrdered(1))),
      deadline_(MonotonicClock::now() + deadlineSeconds)
{
    if (!driverAvailable()) {
        failure_ = Failure::NoDriver;
        problem_ = noDriverText();
        return;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(kDriver, connection_);
    db.setHostName(server.host);
    db.setPort(server.port);
    db.setDatabaseName(server.database);
    db.setUserName(server.user);
    // connect_timeout counts in whole seconds, and libpq takes no less than 2.
    int timeout = std::max(kLeastConnectTimeoutSeconds, static_cast<int>(std::floor(deadlineSeconds)));
    if (server.connectTimeoutSeconds > 0)
        timeout = std::max(kLeastConnectTimeoutSeconds, std::min(timeout, server.connectTimeoutSeconds));
    QString options = QStringLiteral("connect_timeout=%1").arg(timeout);
    if (!server.connectOptions.isEmpty())
        options += QLatin1Char(';') + server.connectOptions;
    db.setConnectOptions(options);
    if (!db.open()) {
        failure_ = Failure::Unreachable;
        problem_ = db.lastError().text().simplified();
        return;
    }
    const QVariant handle = db.driver()->handle();
    PGconn *const conn = handle.isValid() ? *static_cast<PGconn *const *>(handle.constData()) : nullptr;
    if (conn && PQsocket(conn) >= 0)
        watch_ = std::make_unique<DeadlineWatch>(PQsocket(conn), deadline_);
}

RecordsSession::~RecordsSession()
{
    watch_.reset();  // before the socket closes, so no other socket of that number is shut
    if (!QSqlDatabase::contains(connection_))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase RecordsSession::database() const
{
    return QSqlDatabase::database(connection_, false);
}

bool RecordsSession::extendDeadline(double seconds)
{
    if (deadlinePassed())
        return false;  // the connection may be cut already
    deadline_ = MonotonicClock::now() + seconds;
    if (watch_)
        watch_->setDeadline(deadline_);
    return true;
}

bool RecordsSession::deadlinePassed() const
{
    return MonotonicClock::now() >= deadline_;
}

double RecordsSession::secondsLeft() const
{
    return std::max(0.0, deadline_ - MonotonicClock::now());
}

QString RecordsSession::failedBecause(const QString &error) const
{
    if (deadlinePassed())
        return QStringLiteral("no answer within the deadline");
    return error.simplified();  // libpq's own line breaks, in one line
}
