#pragma once
#include <QString>
#include <QtGlobal>

class CheckedFile;

// What the history keeps of an upgrade file: its size, SHA-256 (lower-case
// hex) and the version its name gives. Size -1 and no digest when unreadable.
struct FileFacts {
    QString path;  // absolute
    qint64 size = -1;
    QString sha256;
    QString targetVersion;
    qint64 lines = -1;  // lines the transfer sends

    static FileFacts of(const QString &path);
    // The facts of the bytes a checked file read (what is sent), not of what
    // the path holds now.
    static FileFacts of(const QString &path, const CheckedFile &checked);
    static QString sha256Of(const QString &path);
};
