#pragma once
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <unistd.h>

// The right to open a serial device past another program's exclusive mode
// (CAP_SYS_ADMIN): whether this process has it, and how to run a program
// without it.
namespace Capabilities {
inline bool hasSysAdmin()
{
    constexpr int kSysAdminBit = 21;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (QByteArray line; !(line = status.readLine()).isEmpty();)
        if (line.startsWith("CapEff:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> kSysAdminBit) & 1;
    return false;
}

// `program` and its arguments as a command line that drops the right first
// where this process could hand it on (as root, through setpriv); the first
// element is what to start.
inline QStringList withoutSysAdmin(const QString &program, const QStringList &args)
{
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringList{program} + args;
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--inh-caps=-all"),
                       QStringLiteral("--bounding-set=-sys_admin"), QStringLiteral("--"), program} +
           args;
}
}
