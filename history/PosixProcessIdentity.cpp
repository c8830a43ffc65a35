#include "history/ProcessIdentity.h"
#include <QFile>
#include <QSysInfo>
#include <QtGlobal>
#include <cerrno>
#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {
QString bootIdNow()
{
    QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll().trimmed());
}

// Field 22 of /proc/PID/stat; the command name before it may hold spaces and
// parentheses, so the fields are counted after its last ')'.
qint64 processStart(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return -1;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    constexpr int kStartAfterName = 22 - 3;  // fields 3.. follow the name
    return fields.size() > kStartAfterName ? fields.at(kStartAfterName).toLongLong() : -1;
}

QString userName()
{
    if (const passwd *pw = getpwuid(geteuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return QString::number(geteuid());
}
}

const ProcessIdentity &ProcessIdentity::current()
{
    static const ProcessIdentity self = [] {
        ProcessIdentity p;
        p.pid = getpid();
        p.start = processStart(p.pid);
        p.host = QSysInfo::machineHostName();
        p.bootId = bootIdNow();
        p.user = userName();
        return p;
    }();
    return self;
}

bool ProcessIdentity::stillRuns(const QString &host, const QString &bootId, qint64 pid, qint64 start)
{
    const ProcessIdentity &self = current();
    if (host != self.host)
        return true;
    if (bootId != self.bootId)
        return false;
    if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM))
        return false;
    return processStart(pid) == start;
}
