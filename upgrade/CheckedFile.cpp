#include "upgrade/CheckedFile.h"
#include <QCryptographicHash>
#include "base/FwUpErrors.h"
#include "upgrade/UpgradeFile.h"
#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr qsizetype kCopyChunkBytes = 64 * 1024;

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return true;
}
}

CheckedFile::CheckedFile(const QString &path, Keep keep) : path_(path)
{
    read(keep);
}

CheckedFile::~CheckedFile()
{
    if (copyFd_ >= 0)
        ::close(copyFd_);
}

bool CheckedFile::makeCopy()
{
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
#ifdef O_TMPFILE
    copyFd_ = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (copyFd_ < 0) {
        // A file system without unnamed files: make one and take its name away.
        QByteArray name = folder + "/ovfw-upgrade-XXXXXX";
        copyFd_ = ::mkstemp(name.data());
        if (copyFd_ >= 0)
            ::unlink(name.constData());
    }
    return copyFd_ >= 0;
}

void CheckedFile::append(const QByteArray &bytes)
{
    if (copyFd_ < 0 || copyFailed_)
        return;
    pending_ += bytes;
    if (pending_.size() < kCopyChunkBytes)
        return;
    copyFailed_ = !writeAll(copyFd_, pending_);
    pending_.clear();
}

void CheckedFile::read(Keep keep)
{
    static const QByteArray kTerminators[] = {"", "\r", "\n", "\r\n"};
    QCryptographicHash digest(QCryptographicHash::Sha256);
    UpgradeFile file;
    HexFileChecker checker;
    try {
        file.open(path_);
        report_.opened = true;
        if (keep == Keep::Copy && !makeCopy())
            throw FwUpError(FwUpErrorNumber::FileIoError);
        while (!file.atEnd()) {
            const QByteArray line = file.readLine();
            ++fileLines_;
            if (file.lastLineTooLong()) {
                report_.lineTooLong = true;
                if (report_.fault.isEmpty()) {
                    report_.faultLine = fileLines_;
                    report_.faultText = line;
                    report_.fault = QStringLiteral("the line is longer than any Intel HEX record can be "
                                                   "(over %1 characters) - not an upgrade file?")
                                        .arg(UpgradeFile::kLongestLineChars);
                }
                break;
            }
            const QByteArray bytes = line + kTerminators[static_cast<int>(file.lastLineEnd())];
            digest.addData(bytes);
            bytesRead_ += bytes.size();
            append(bytes);
            if (!report_.fault.isEmpty())
                continue;  // the first fault is the one told; the copy goes on
            const QString fault = checker.feed(line, file.lastLineEnd());
            if (!fault.isEmpty()) {
                report_.faultLine = checker.lines();
                report_.faultText = line;
                report_.fault = fault;
            }
        }
        sha256_ = QString::fromLatin1(digest.result().toHex());
        if (copyFd_ >= 0 && !copyFailed_)
            copyFailed_ = !writeAll(copyFd_, pending_);
        pending_.clear();
        if (copyFailed_)
            throw FwUpError(FwUpErrorNumber::FileIoError);
    } catch (const FwUpError &e) {
        errorNumber_ = e.code();
        report_.openError = QStringLiteral("%1: %2").arg(e.code()).arg(e.description());
        report_.openErrorNumber = e.code();
        report_.openErrorText = e.description();
        if (copyFd_ >= 0)
            ::close(copyFd_);
        copyFd_ = -1;
        return;
    }
    report_.lines = checker.lines();
    report_.dataBytes = checker.dataBytes();
    report_.ranges = checker.ranges();
    if (report_.fault.isEmpty()) {
        report_.fault = checker.finish();
        if (!report_.fault.isEmpty())
            report_.faultLine = checker.lines();
    }
    report_.ok = report_.fault.isEmpty();
}

void CheckedFile::openCopy(UpgradeFile &file) const
{
    if (copyFd_ < 0)
        throw FwUpError(FwUpErrorNumber::FileNotOpen);
    file.openDescriptor(copyFd_);
}

FileCheckReport checkUpgradeFile(const QString &path)
{
    return CheckedFile(path, CheckedFile::Keep::NoCopy).report();
}
