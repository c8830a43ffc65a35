#pragma once
#include <QDir>
#include <QFile>
#include <QStringList>

// The number of file descriptors this process holds open, for tests that
// check that a failure leaks none.
inline QStringList descriptorTargets()
{
    QStringList out;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &n : fds.entryList(QDir::NoDotAndDotDot | QDir::System))
        out << n + QStringLiteral("->") + QFile::symLinkTarget(fds.filePath(n));
    return out;
}

inline int openDescriptors()
{
    return static_cast<int>(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}
