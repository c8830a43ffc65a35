#pragma once
#include "upgrade/FileAccess.h"
#include "upgrade/FileFacts.h"
#include "upgrade/HexFileCheck.h"
#include <QString>
#include <memory>

class UpgradeFile;

// An upgrade file read once: every line judged as the transfer will read it,
// and the bytes read kept in a private copy that has no name in any folder.
// The transfer sends from that copy, so what was checked is what is sent: a
// file replaced or rewritten after the check, a pipe or a FIFO cannot change
// what goes out. Memory does not grow with the file; reading stops at a line
// longer than any record can be.
class UpgradeImage {
public:
    enum class Keep { Copy, NoCopy };

    // Reads `path` to its end (or to a line too long to be a record). A file
    // that cannot be opened or read is told in the report: opened false, or
    // openError with errorNumber.
    explicit UpgradeImage(const QString &path, Keep keep = Keep::Copy);
    UpgradeImage(const UpgradeImage &) = delete;
    UpgradeImage &operator=(const UpgradeImage &) = delete;

    const QString &path() const { return path_; }
    const FileCheckReport &report() const { return report_; }
    // The FwUpError number of a file that could not be read, or 0.
    int errorNumber() const { return errorNumber_; }
    // Every line the copy holds (the report's `lines` stops at a fault).
    qint64 fileLines() const { return fileLines_; }
    bool hasCopy() const { return copy_.isOpen(); }
    // The SHA-256 (lower-case hex) and the size of the bytes read: those of
    // the copy, whatever the file holds by now.
    const QString &sha256() const { return sha256_; }
    qint64 bytesRead() const { return bytesRead_; }
    // What the file's name says (OV<model>_FW<version>.OVH), read once: the
    // meter model it is for and the version it brings; empty where it says
    // none.
    const QString &modelCode() const { return modelCode_; }
    const QString &versionText() const { return versionText_; }

    // A reader of the copy, from its first byte, with a read position of its
    // own (several meters may read one image at once). Throws FwUpError.
    std::unique_ptr<UpgradeFile> reader() const;
    // What the history keeps of the file: the facts of the bytes read (what
    // is sent), not of what the path holds now.
    FileFacts facts() const;

private:
    void read(Keep keep);
    void append(const QByteArray &bytes);

    QString path_;
    QString modelCode_;
    QString versionText_;
    FileCheckReport report_;
    int errorNumber_ = 0;
    qint64 fileLines_ = 0;
    FileAccess::PrivateCopy copy_;
    QByteArray pending_;  // bytes for the copy not written yet
    bool copyFailed_ = false;
    QString sha256_;
    qint64 bytesRead_ = 0;
};
