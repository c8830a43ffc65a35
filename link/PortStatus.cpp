#include "link/PortStatus.h"
#include <QFile>
#include <QFileInfo>
#include "link/SerialLine.h"
#include <QLockFile>
#include <QSysInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {
const QString kDialoutHint = QStringLiteral(
    "the package's udev rule (70-ovfw-upgrade.rules) gives the person at the seat the FTDI adapters: "
    "plug the adapter in again; otherwise add your user to the dialout group "
    "(e.g. sudo usermod -aG dialout $USER), then log in again");

#ifdef Q_OS_UNIX
PortState stateFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV: return PortState::Missing;
    case EACCES:
    case EPERM:
    case EROFS: return PortState::NoPermission;
    case EBUSY: return PortState::InUse;  // the driver's exclusive mode
    default: return PortState::OpenFailed;
    }
}

// Where a port name is looked for: a bare name lives under /dev, as serial
// tools take it.
QString systemLocation(const QString &device)
{
    const bool path = device.startsWith(QLatin1Char('/')) || device.startsWith(QLatin1String("./")) ||
                      device.startsWith(QLatin1String("../"));
    return path ? device : QStringLiteral("/dev/") + device;
}

// The lock file taken for a device at its resolved path, where Qt's serial
// port and other serial tools look for it: "LCK.." and the name under /dev
// with '/' as '_', in the first of the lock folders that holds that file
// already or may take it.
QString serialLockFile(const QString &path)
{
    static const char *const kLockFolders[] = {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
                                               "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"};
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(QStringLiteral("/dev/").size()) : path;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QStringLiteral("/LCK.."));
    for (const char *folder : kLockFolders) {
        const QFileInfo info(QString::fromLatin1(folder));
        QString file = info.filePath() + name;
        if (info.isReadable() && (QFile::exists(file) || info.isWritable()))
            return file;
    }
    return {};
}

// Whether the device's lock file names a process of this machine that has
// ended: one killed while it held the device, its exclusive mode left set.
bool lockNamesEndedProcess(const QString &path)
{
    constexpr qint64 kMostLockBytes = 4096;  // process id, program, host and two more lines
    QFile lock(serialLockFile(path));
    if (!lock.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = lock.read(kMostLockBytes).split('\n');
    bool number = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&number);
    const QString host = QString::fromUtf8(lines.value(2).trimmed());
    if (!number || pid <= 0 || (!host.isEmpty() && host != QSysInfo::machineHostName()))
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// The device a port name reaches, or empty with the reason in `error`.
QString resolve(const QString &device, int &error)
{
    char resolved[PATH_MAX];
    if (!::realpath(QFile::encodeName(systemLocation(device)).constData(), resolved)) {
        error = errno;
        return {};
    }
    return QFile::decodeName(resolved);
}
#endif
}

QString portStateText(PortState state)
{
    switch (state) {
    case PortState::Present: return QStringLiteral("present");
    case PortState::InUse: return QStringLiteral("in use by another program");
    case PortState::LeftExclusive:
        return QStringLiteral("left in exclusive mode by a program that has ended; restart whatever holds its other end");
    case PortState::NoPermission: return QStringLiteral("permission denied");
    case PortState::Missing: return QStringLiteral("missing");
    case PortState::NotSerial: return QStringLiteral("not a serial device");
    case PortState::OpenFailed: return QStringLiteral("cannot be opened");
    }
    return QStringLiteral("unknown");
}

QString portStateNote(int portNumber, const QString &device, PortState state)
{
    QString note = QStringLiteral("port %1 (%2): %3").arg(portNumber).arg(device, portStateText(state));
    if (state == PortState::NoPermission)
        note += QStringLiteral("; ") + kDialoutHint;
    return note;
}

QString resolvedDevicePath(const QString &device)
{
#ifdef Q_OS_UNIX
    int error = 0;
    return device.isEmpty() ? QString() : resolve(device, error);
#else
    return device;
#endif
}

PortState portState(const QString &device)
{
    const std::unique_ptr<SerialLine> line = SerialLine::forThisPlatform();
    std::unique_ptr<QLockFile> lock;
    const PortState state = openHeld(*line, lock, device, SerialSettings{});
    line->close();
    return state;
}

PortState DeviceHold::take(const QString &path)
{
    release();
#ifdef Q_OS_UNIX
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0)
        return stateFromErrno(errno);
    if (!S_ISCHR(info.st_mode))
        return PortState::NotSerial;
    const int fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // The exclusive mode of a killed program outlives it while the
        // device's other end stays open (a pty, a network serial bridge).
        const int error = errno;
        return error == EBUSY && lockNamesEndedProcess(path) ? PortState::LeftExclusive : stateFromErrno(error);
    }
    termios settings{};
    PortState state = ::tcgetattr(fd, &settings) == 0 ? PortState::Present : PortState::NotSerial;
    // A file system that cannot lock leaves the lock file and the exclusive
    // mode to guard the device.
    if (state == PortState::Present && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        state = PortState::InUse;
#if defined(TIOCGEXCL) && defined(TIOCNXCL)
    // The driver lets root past another program's exclusive mode; the tool
    // goes past it only to clear what a killed program left.
    int exclusive = 0;
    if (state == PortState::Present && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive &&
        !(lockNamesEndedProcess(path) && ::ioctl(fd, TIOCNXCL) == 0))
        state = PortState::InUse;
#endif
    if (state != PortState::Present) {
        ::close(fd);
        return state;
    }
    fd_ = fd;
#else
    Q_UNUSED(path);
#endif
    return PortState::Present;
}

void DeviceHold::excludeOthers()
{
#if defined(Q_OS_UNIX) && defined(TIOCEXCL)
    if (fd_ >= 0)
        ::ioctl(fd_, TIOCEXCL);
#endif
}

void DeviceHold::release()
{
#ifdef Q_OS_UNIX
    if (fd_ < 0)
        return;
#ifdef TIOCNXCL
    ::ioctl(fd_, TIOCNXCL);
#endif
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
#endif
}

PortState openHeld(SerialLine &line, std::unique_ptr<QLockFile> &lock, const QString &device,
                   const SerialSettings &settings)
{
    lock.reset();
    if (device.isEmpty())
        return PortState::Missing;
#ifdef Q_OS_UNIX
    int error = 0;
    const QString path = resolve(device, error);
    if (path.isEmpty())
        return stateFromErrno(error);
    {
        // What a killed program left is cleared here, on a descriptor of the
        // hold's own; the line then takes the device for itself.
        DeviceHold hold;
        const PortState held = hold.take(path);
        if (held != PortState::Present)
            return held;
    }
    // The lock file is named after the resolved device, so it is the one
    // other programs take for that device.
    const QString lockPath = serialLockFile(path);
    if (!lockPath.isEmpty()) {
        auto taken = std::make_unique<QLockFile>(lockPath);
        taken->setStaleLockTime(0);
        if (!taken->tryLock())
            return PortState::InUse;
        lock = std::move(taken);
    }
#else
    const QString path = device;
#endif
    switch (line.open(QFile::encodeName(path).toStdString(), settings)) {
    case SerialLine::Opened::Yes: return PortState::Present;
    case SerialLine::Opened::Missing: lock.reset(); return PortState::Missing;
    case SerialLine::Opened::InUse: lock.reset(); return PortState::InUse;
    case SerialLine::Opened::NoPermission: lock.reset(); return PortState::NoPermission;
    case SerialLine::Opened::NotSerial: lock.reset(); return PortState::NotSerial;
    case SerialLine::Opened::Failed: break;
    }
    lock.reset();
    return PortState::OpenFailed;
}
