#include "power/SleepInhibitor.h"
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <fcntl.h>
#include <unistd.h>

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kWhat = QStringLiteral("sleep");
const QString kMode = QStringLiteral("block");
// A login manager that does not answer by then is taken as none.
constexpr int kCallTimeoutMs = 2000;
}

SleepInhibitor::SleepInhibitor(QString who) : who_(std::move(who)) {}

SleepInhibitor::~SleepInhibitor()
{
    release();
}

void SleepInhibitor::acquire()
{
    if (held())
        return;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << kWhat << who_ << kReason << kMode;
    const QDBusMessage reply = bus.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return;
    const auto lock = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
    if (lock.isValid())
        fd_ = ::fcntl(lock.fileDescriptor(), F_DUPFD_CLOEXEC, 0);
}

void SleepInhibitor::release()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}
