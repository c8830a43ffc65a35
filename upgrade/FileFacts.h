#pragma once
#include <QString>
#include <QtGlobal>

// What the history keeps of an upgrade file: its size, SHA-256 (lower-case
// hex) and the version its name gives. Size -1 and no digest when unreadable.
struct FileFacts {
    QString path;  // absolute
    qint64 size = -1;
    QString sha256;
    QString targetVersion;
    qint64 lines = -1;  // lines the transfer sends

    // The SHA-256 of what `path` holds now (lower-case hex), or empty when it
    // cannot be read. An upgrade's facts come from its image instead.
    static QString sha256Of(const QString &path);
};
