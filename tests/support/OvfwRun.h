#pragma once
#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// What a finished ovfw process left: its exit code (-1 when it crashed or
// had to be killed) and what it wrote.
struct OvfwRun {
    int exitCode = -1;
    QString out, err;
};

// Waits for a started ovfw to end, killing it after `timeoutMs`.
inline OvfwRun finishOvfw(QProcess &p, int timeoutMs)
{
    OvfwRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        // What it wrote before it hung tells where.
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QStringLiteral("(killed after %1 ms)\n").arg(timeoutMs) + QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
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
