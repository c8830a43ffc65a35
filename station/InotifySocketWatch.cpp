#include "station/SocketWatch.h"
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace {
constexpr uint32_t kLinkEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;
constexpr std::size_t kEventBufferBytes = 64 * 1024;

bool isSocketName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.'));
}

// The folder itself when it exists, else the nearest one above it.
QString nearestExisting(const QString &folder)
{
    QString at = QDir::cleanPath(folder);
    while (!QFileInfo(at).isDir()) {
        const QString up = QFileInfo(at).path();
        if (up == at)
            break;
        at = up;
    }
    return at;
}
}

SocketWatch::SocketWatch(const QString &folder, QObject *parent)
    : QObject(parent), folder_(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()))
{
}

SocketWatch::~SocketWatch()
{
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

bool SocketWatch::start()
{
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) {
        problem_ = QStringLiteral("inotify: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SocketWatch::onEvents);
    placeWatch();
    return problem_.isEmpty();
}

// Watches the folder, or the nearest one above it, and reads it again: a
// link made before the watch was placed is found that way.
void SocketWatch::placeWatch()
{
    if (watch_ >= 0)
        ::inotify_rm_watch(fd_, watch_);
    watched_ = nearestExisting(folder_);
    const uint32_t mask = watched_ == folder_ ? kLinkEvents | kFolderGone : IN_CREATE | IN_MOVED_TO | kFolderGone;
    watch_ = ::inotify_add_watch(fd_, watched_.toLocal8Bit().constData(), mask | IN_ONLYDIR);
    if (watch_ < 0)
        problem_ = QStringLiteral("cannot watch %1: %2").arg(watched_, QString::fromLocal8Bit(std::strerror(errno)));
    rescan();
}

void SocketWatch::rescan()
{
    QStringList now;
    if (watched_ == folder_)
        for (const QString &name : QDir(folder_).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (isSocketName(name))
                now << name;
    for (auto it = present_.begin(); it != present_.end();) {
        if (now.contains(it.key())) {
            ++it;
            continue;
        }
        const QString name = it.key();
        it = present_.erase(it);
        emit gone(name);
    }
    for (const QString &name : now)
        linkMade(name, false);
}

// A link made or renamed into place (`told`), or found when the folder is
// read again: a socket that appears. udev writes a link only when its device
// changes, renaming the new one over the old, which tells of no removal: a
// link told of under a name already there is a new plug, and so is one found
// reaching another device than before.
void SocketWatch::linkMade(const QString &name, bool told)
{
    const QString path = QDir(folder_).filePath(name);
    const QString device = QFileInfo(path).canonicalFilePath();
    const auto seen = present_.constFind(name);
    if (seen != present_.cend()) {
        if (!told && seen->device == device)
            return;
        present_.remove(name);
        emit gone(name);
    }
    present_.insert(name, {path, device});
    emit appeared(name, path);
}

void SocketWatch::onEvents()
{
    alignas(inotify_event) char buffer[kEventBufferBytes];
    bool again = false;     // the watched folder changed: watch anew
    bool overflow = false;  // events were lost: read the folder again
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
            if (e->mask & IN_Q_OVERFLOW) {  // carries no watch
                overflow = true;
                continue;
            }
            if (e->wd != watch_)
                continue;
            if (e->mask & kFolderGone) {
                again = true;
                continue;
            }
            const QString name = e->len > 0 ? QFile::decodeName(e->name) : QString();
            if (watched_ != folder_) {
                again = true;  // a folder on the way may have come
                continue;
            }
            if (!isSocketName(name))
                continue;
            if (e->mask & (IN_CREATE | IN_MOVED_TO))
                linkMade(name, true);
            else if (present_.remove(name) > 0)
                emit gone(name);
        }
    }
    if (again)
        placeWatch();
    else if (overflow)
        rescan();
}
