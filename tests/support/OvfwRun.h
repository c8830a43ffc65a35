#pragma once
#include <QProcess>
#include <QString>

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
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}
