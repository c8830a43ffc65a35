#pragma once
#include <QString>
#include <QtGlobal>

// What names the writing process across the machine's life: its id, its start
// (so a reused id is not taken for it), the host and the boot.
struct ProcessIdentity {
    qint64 pid = 0;
    qint64 start = 0;
    QString host;
    QString bootId;
    QString user;

    static const ProcessIdentity &current();
    // Whether the process a row names still runs. Another host's process
    // cannot be seen: it counts as running.
    static bool stillRuns(const QString &host, const QString &bootId, qint64 pid, qint64 start);
};
