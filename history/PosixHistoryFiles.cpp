#include "history/HistoryFiles.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kGroupFile = 0660;  // in a group-writable folder: a shared bench
constexpr mode_t kPrivateFolder = 0700;
}

namespace HistoryFiles {

QString stateFolder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state;
}

bool createFile(const QString &path, QString &why)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder)) {
            why = QStringLiteral("cannot make the folder %1").arg(folder);
            return false;
        }
        ::chmod(QFile::encodeName(folder).constData(), kPrivateFolder);
    }
    if (info.exists())
        return true;
    struct stat folderStat {};
    const bool shared = ::stat(QFile::encodeName(folder).constData(), &folderStat) == 0 && (folderStat.st_mode & S_IWGRP);
    const mode_t mode = shared ? kGroupFile : kPrivateFile;
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, mode);
    if (fd < 0) {
        if (errno == EEXIST)
            return true;
        why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    ::fchmod(fd, mode);  // whatever the umask
    ::close(fd);
    return true;
}
}
