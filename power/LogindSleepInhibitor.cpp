#include "power/SleepInhibitor.h"
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kWhat = QStringLiteral("sleep");
const QString kMode = QStringLiteral("block");
// A login manager that has not answered by then is taken as none.
constexpr int kCallTimeoutMs = 2000;
}

// The login manager's answer, which holds the lock's descriptor.
class SleepInhibitor::Request : public QDBusPendingCall {
public:
    explicit Request(const QDBusPendingCall &call) : QDBusPendingCall(call) {}
};

SleepInhibitor::SleepInhibitor(QString who) : who_(std::move(who)) {}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

void SleepInhibitor::acquire()
{
    if (request_)
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << kWhat << who_ << kReason << kMode;
    // The answer is received and stored by the connection's thread, so it
    // arrives whether or not this thread's event loop runs; the descriptor
    // in it stays open for as long as the pending call is kept.
    request_ = std::make_unique<Request>(bus.asyncCall(call, kCallTimeoutMs));
}

void SleepInhibitor::release()
{
    // Dropping the call closes the descriptor of an answer that has come;
    // one still on its way is dropped, with its descriptor, as it arrives.
    request_.reset();
}

bool SleepInhibitor::held() const
{
    if (!request_ || !request_->isFinished() || request_->isError())
        return false;
    const QDBusMessage reply = request_->reply();
    return !reply.arguments().isEmpty() &&
           qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first()).isValid();
}
