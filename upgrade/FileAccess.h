#pragma once
#include <QByteArray>
#include <QString>

class QFile;

// How the upgrade file and its private copy are reached on this platform.
namespace FileAccess {

// Opens the file at `path` for reading into `file`, by the name's own
// bytes where the platform names files by bytes; throws FwUpError
// (FileNotFound, FileAccessDenied) where it cannot, a folder included.
void openForReading(QFile &file, const QString &path);

// A private copy of what was checked, which nobody else can reach or change:
// a file without a name (or one deleted as its last reader closes), so that
// what is sent is exactly what was checked.
class PrivateCopy {
public:
    PrivateCopy() = default;
    ~PrivateCopy();
    PrivateCopy(const PrivateCopy &) = delete;
    PrivateCopy &operator=(const PrivateCopy &) = delete;

    bool create();
    bool isOpen() const;
    // Writes all of `bytes` at the end; false when it cannot.
    bool append(const QByteArray &bytes);
    void discard();
    // Opens a reader of the copy from its first byte, with a read position
    // of its own, so that several readers do not disturb each other; throws
    // FwUpError(FileIoError) where it cannot.
    void openReader(QFile &file) const;

private:
    qintptr handle_ = -1;  // a descriptor, or a Windows handle
    QString where_;        // its name, where it has one while open
};
}
