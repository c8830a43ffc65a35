#include "upgrade/FileAccess.h"
#include "base/FileNames.h"
#include "base/FwUpErrors.h"
#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileAccess {

void openForReading(QFile &file, const QString &path)
{
    // By the name's own bytes: a name that is not valid UTF-8 opens too.
    const QByteArray name = FileNames::encode(path);
    struct stat info {};
    if (name.isEmpty() || ::stat(name.constData(), &info) != 0)
        throw FwUpError(errno == EACCES ? FwUpErrorNumber::FileAccessDenied : FwUpErrorNumber::FileNotFound);
    if (S_ISDIR(info.st_mode))
        throw FwUpError(FwUpErrorNumber::FileAccessDenied);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FwUpError(errno == ENOENT ? FwUpErrorNumber::FileNotFound : FwUpErrorNumber::FileAccessDenied);
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw FwUpError(FwUpErrorNumber::FileAccessDenied);
    }
}

PrivateCopy::~PrivateCopy()
{
    discard();
}

bool PrivateCopy::create()
{
    discard();
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
    int fd = -1;
#ifdef O_TMPFILE
    fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
    if (fd < 0) {
        // A file system without unnamed files: make one and take its name away.
        QByteArray name = folder + "/ovfw-upgrade-XXXXXX";
        fd = ::mkstemp(name.data());
        if (fd >= 0)
            ::unlink(name.constData());
    }
    handle_ = fd;
    return fd >= 0;
}

bool PrivateCopy::isOpen() const
{
    return handle_ >= 0;
}

bool PrivateCopy::append(const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && handle_ >= 0) {
        const ssize_t n = ::write(static_cast<int>(handle_), at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += n;
        left -= n;
    }
    return left == 0;
}

void PrivateCopy::discard()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_));
    handle_ = -1;
}

void PrivateCopy::openReader(QFile &file) const
{
    if (handle_ < 0)
        throw FwUpError(FwUpErrorNumber::FileNotOpen);
#ifdef Q_OS_LINUX
    // Opened again through its /proc link: a read position of its own.
    file.setFileName(QStringLiteral("/proc/self/fd/%1").arg(handle_));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw FwUpError(FwUpErrorNumber::FileIoError);
#else
    // Elsewhere the position is shared: readers take their turns.
    if (!file.open(static_cast<int>(handle_), QIODevice::ReadOnly | QIODevice::Unbuffered,
                   QFileDevice::DontCloseHandle) ||
        !file.seek(0))
        throw FwUpError(FwUpErrorNumber::FileIoError);
#endif
}
}
