// Devices on Linux and other POSIX systems: a port name resolved under /dev,
// and the holds serial tools agree on (a lock file, flock, the driver's
// exclusive mode).
#include "link/PortStatus.h"
#include "link/SerialLine.h"
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>
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

namespace {
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

// The hold that keeps every other opener off a device, whatever name reaches
// it: a descriptor of its own on the resolved device, carrying an exclusive
// flock (binding on root as well) for as long as it lives.
class DeviceHold {
public:
    DeviceHold() = default;
    ~DeviceHold() { release(); }
    DeviceHold(const DeviceHold &) = delete;
    DeviceHold &operator=(const DeviceHold &) = delete;

    // Opens the device at a resolved path and takes the hold; Present when
    // held, otherwise why not. The driver's exclusive mode left behind by a
    // program that was killed is cleared when this user may open the device
    // past it, nobody holds its file lock and its lock file names a process
    // that has ended; in any other case the device is not taken.
    PortState take(const QString &path);
    void release();

private:
    int fd_ = -1;
};

} // namespace

QString devicePermissionHint()
{
    return QStringLiteral(
        "the package's udev rule (70-ovfw-upgrade.rules) gives the person at the seat the FTDI adapters: "
        "plug the adapter in again; otherwise add your user to the dialout group "
        "(e.g. sudo usermod -aG dialout $USER), then log in again");
}

QString defaultDeviceName(int portNumber)
{
    return QStringLiteral("/dev/ttyUSB%1").arg(portNumber - 1);
}

QString resolvedDevicePath(const QString &device)
{
    int error = 0;
    return device.isEmpty() ? QString() : resolve(device, error);
}

PortState DeviceHold::take(const QString &path)
{
    release();
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
    return PortState::Present;
}

void DeviceHold::release()
{
    if (fd_ < 0)
        return;
#ifdef TIOCNXCL
    ::ioctl(fd_, TIOCNXCL);
#endif
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

PortState openHeld(SerialLine &line, std::unique_ptr<QLockFile> &lock, const QString &device,
                   const SerialSettings &settings)
{
    lock.reset();
    if (device.isEmpty())
        return PortState::Missing;
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
    const PortState state = portStateOf(line.open(QFile::encodeName(path).toStdString(), settings));
    if (state != PortState::Present)
        lock.reset();
    return state;
}
