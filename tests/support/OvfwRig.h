#pragma once
#include "MeterEmulatorProcess.h"
#include "link/DeviceIdentity.h"
#include "link/PortMap.h"
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

// ovfw as a bench runs it, for the tests built with its path (OVFW_PATH): a
// child process whose standard input is no terminal, its meters named in
// OVFW_PORTS form ("1=/dev/pts/4,2=/dev/pts/7"), with a history file and a
// folder laid out as /sys of its own where given, else the test's own.

constexpr int kOvfwTimeoutMs = 180000;

// What a finished ovfw process left: its exit code (-1 when it crashed or
// had to be killed) and what it wrote.
struct OvfwRun {
    int exitCode = -1;
    QString out, err;
};

using MeterEmulators = std::vector<std::unique_ptr<MeterEmulatorProcess>>;

inline QProcessEnvironment ovfwEnvironment(const QString &ports, const QString &history = {},
                                           const QString &sysfs = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(PortMap::kEnvironmentVariable), ports);
    if (!history.isEmpty())
        env.insert(QStringLiteral("OVFW_HISTORY"), history);
    if (!sysfs.isEmpty())
        env.insert(QString::fromLatin1(DeviceIdentity::kSysfsVariable), sysfs);
    return env;
}

inline void startOvfw(QProcess &p, const QStringList &args, const QProcessEnvironment &env)
{
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(OVFW_PATH), args);
    p.closeWriteChannel();
}

inline void startOvfw(QProcess &p, const QStringList &args, const QString &ports = {}, const QString &history = {},
                      const QString &sysfs = {})
{
    startOvfw(p, args, ovfwEnvironment(ports, history, sysfs));
}

// Waits for a started ovfw to end, killing it after `timeoutMs`.
// Every thread's stack of a process that hangs, where gdb is at hand: a
// hang that shows once in many runs is then found from that one run.
inline QString stacksOf(qint64 pid)
{
    // A zombie has ended, and only its parent failed to notice.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QString state = stat.open(QIODevice::ReadOnly) ? QString::fromLatin1(stat.readAll()).trimmed()
                                                         : QStringLiteral("(no such process)");
    QProcess gdb;
    gdb.start(QStringLiteral("gdb"),
              {QStringLiteral("-p"), QString::number(pid), QStringLiteral("-batch"), QStringLiteral("-ex"),
               QStringLiteral("thread apply all bt"), QStringLiteral("-ex"), QStringLiteral("thread 1"),
               QStringLiteral("-ex"), QStringLiteral("info sharedlibrary"), QStringLiteral("-ex"),
               QStringLiteral("x/24i $pc-48")});
    if (!gdb.waitForFinished(60000))
        gdb.kill();
    return QStringLiteral("process state: %1\n").arg(state) + QString::fromUtf8(gdb.readAllStandardOutput());
}

// Sends a signal twice, the second only once the process has taken the
// first (it is no longer pending): two pending at once would be one. Sent as
// a line has just reached `meter`, so the line in flight is still going when
// the second comes.
inline bool signalTwiceInALine(qint64 pid, int signalNumber, const MeterEmulatorProcess &meter)
{
    const auto taken = [pid, signalNumber] {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return true;  // it has ended
        const quint64 bit = quint64(1) << (signalNumber - 1);
        for (const QByteArray &line : status.readAll().split('\n'))
            if ((line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) &&
                (line.mid(7).trimmed().toULongLong(nullptr, 16) & bit))
                return false;
        return true;
    };
    const qsizetype lines = meter.received().count(':');
    QElapsedTimer waited;
    waited.start();
    while (meter.received().count(':') == lines && waited.elapsed() < kOvfwTimeoutMs)
        QThread::msleep(1);
    ::kill(static_cast<pid_t>(pid), signalNumber);
    while (!taken() && waited.elapsed() < kOvfwTimeoutMs)
        QThread::msleep(1);
    return ::kill(static_cast<pid_t>(pid), signalNumber) == 0;
}

inline OvfwRun finishOvfw(QProcess &p, int timeoutMs = kOvfwTimeoutMs)
{
    OvfwRun r;
    if (!p.waitForFinished(timeoutMs)) {
        const QString stacks = stacksOf(p.processId());
        // A failure's message is cut short; the whole stacks go to the test's log.
        std::fprintf(stderr, "%s\n", qPrintable(stacks));
        p.kill();
        p.waitForFinished();
        // What it wrote before it hung tells where.
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QStringLiteral("(killed after %1 ms)\n").arg(timeoutMs) + QString::fromUtf8(p.readAllStandardError()) +
                stacks;
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

inline OvfwRun ovfw(const QStringList &args, const QString &ports = {}, const QString &history = {},
                    const QString &sysfs = {})
{
    QProcess p;
    startOvfw(p, args, ports, history, sysfs);
    return finishOvfw(p);
}

// Meter i of the list as port firstPort + i, and the options naming them.
inline QString portList(const MeterEmulators &meters, int firstPort = 1)
{
    QStringList entries;
    for (std::size_t i = 0; i < meters.size(); ++i)
        entries << meters[i]->portEntry(firstPort + int(i));
    return entries.join(QLatin1Char(','));
}

inline QStringList portArgs(int count, int firstPort = 1)
{
    QStringList args;
    for (int n = firstPort; n < firstPort + count; ++n)
        args << QStringLiteral("--port") << QString::number(n);
    return args;
}

// Meters told apart by their serial numbers, meter i's being serialOf(i).
inline QString serialOf(int i)
{
    return QStringLiteral("OV3A%1").arg(i, 5, 10, QLatin1Char('0'));
}

inline MeterEmulators startNumberedMeters(int count, const QStringList &extra = {})
{
    MeterEmulators meters;
    for (int i = 0; i < count; ++i)
        meters.push_back(std::make_unique<MeterEmulatorProcess>(
            QStringList{"--no-pacing", "--identity", QStringLiteral("V,%1,1.02,2.10").arg(serialOf(i))} + extra));
    return meters;
}

// The objects of --json output, one a line; none at all when any line is not one.
inline QList<QJsonObject> jsonLines(const QString &out)
{
    QList<QJsonObject> objects;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            return {};
        objects << doc.object();
    }
    return objects;
}

// The events of one kind ("result", "summary", ...), in order; lines that
// are no object are passed over.
inline QList<QJsonObject> events(const QString &out, const QString &name)
{
    QList<QJsonObject> found;
    for (const QString &line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.value(QStringLiteral("event")).toString() == name)
            found << o;
    }
    return found;
}

// The result events keyed by the device each meter was named by.
inline QMap<QString, QJsonObject> resultsByDevice(const QString &out)
{
    QMap<QString, QJsonObject> results;
    for (const QJsonObject &e : events(out, QStringLiteral("result")))
        results.insert(e.value(QStringLiteral("device")).toString(), e);
    return results;
}

// The history read back: `ovfw history --json ...` as objects keyed by port,
// the newest of each; the ids it lists, newest first; and its rows.
inline QMap<int, QJsonObject> historyByPort(const QString &history, const QStringList &options = {})
{
    QMap<int, QJsonObject> rows;
    for (const QString &line : ovfw(QStringList{"history", "--json"} + options, {}, history).out.split('\n', Qt::SkipEmptyParts)) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (!rows.contains(o.value("port").toInt()))
            rows.insert(o.value("port").toInt(), o);
    }
    return rows;
}

inline QList<int> listedIds(const QString &out)
{
    QList<int> ids;
    for (const QString &line : out.split('\n', Qt::SkipEmptyParts))
        ids << QJsonDocument::fromJson(line.toUtf8()).object().value("id").toInt();
    return ids;
}

inline int rowCount(const QString &history)
{
    return ovfw({"history", "--csv", "--limit", "1000"}, {}, history).out.count(QStringLiteral("\r\n")) - 1;
}

// The first command ovfw printed for a person to paste (a line that begins
// "  ovfw "), without its indent.
inline QString printedCommand(const QString &text)
{
    for (const QString &line : text.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("  ovfw ")))
            return line.mid(2);
    return {};
}

// What a POSIX shell makes of a printed command pasted as it is, with ovfw a
// function that hands back its arguments, run in an empty folder: the
// arguments, and whatever the command made in that folder.
struct PastedCommand {
    QStringList arguments;
    QStringList madeFiles;
};

inline PastedCommand pasteIntoShell(const QString &command)
{
    QTemporaryDir folder;
    QProcess sh;
    sh.setWorkingDirectory(folder.path());
    sh.start(QStringLiteral("/bin/sh"),
             {QStringLiteral("-c"), QStringLiteral("ovfw() { for a; do printf '%s\\0' \"$a\"; done; }\n") + command});
    sh.waitForFinished();
    PastedCommand pasted;
    QList<QByteArray> arguments = sh.readAllStandardOutput().split('\0');
    arguments.removeLast();  // after the last argument's end
    for (const QByteArray &a : arguments)
        pasted.arguments << QString::fromUtf8(a);
    pasted.madeFiles = QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    return pasted;
}
