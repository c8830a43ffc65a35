// The serial line on Linux and other POSIX systems: a tty in raw mode, held
// with an exclusive flock and the driver's exclusive mode, waited on with
// poll() together with a pipe that stop() writes to.
#include "link/SerialLine.h"
#include <algorithm>
#include <cerrno>
#ifdef __linux__
#include <linux/serial.h>
#endif
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

speed_t speedOf(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
    }
}

tcflag_t sizeOf(int dataBits)
{
    switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

SerialLine::Opened openedFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV: return SerialLine::Opened::Missing;
    case EACCES:
    case EPERM:
    case EROFS: return SerialLine::Opened::NoPermission;
    case EBUSY: return SerialLine::Opened::InUse;  // the driver's exclusive mode
    default: return SerialLine::Opened::Failed;
    }
}

bool isLoss(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}

class PosixSerialLine : public SerialLine {
public:
    PosixSerialLine()
    {
        if (::pipe2(stopPipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            stopPipe_[0] = stopPipe_[1] = -1;
    }
    ~PosixSerialLine() override
    {
        release();
        for (int fd : stopPipe_)
            if (fd >= 0)
                ::close(fd);
    }

    Opened open(const std::string &device, const SerialSettings &settings) override
    {
        close();
        const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return openedFromErrno(errno);
        termios modes{};
        if (::tcgetattr(fd, &modes) != 0) {
            ::close(fd);
            return Opened::NotSerial;
        }
        // Another opener, whatever name reached the device, holds it.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);
            return Opened::InUse;
        }
        const speed_t speed = speedOf(settings.baud);
        ::cfmakeraw(&modes);
        modes.c_cflag = (modes.c_cflag & ~(CSIZE | CSTOPB | PARENB | PARODD | CRTSCTS)) | sizeOf(settings.dataBits) |
                        CREAD | CLOCAL;
        if (settings.stopBits == 2)
            modes.c_cflag |= CSTOPB;
        switch (settings.parity) {
        case SerialSettings::Parity::Even: modes.c_cflag |= PARENB; break;
        case SerialSettings::Parity::Odd: modes.c_cflag |= PARENB | PARODD; break;
        case SerialSettings::Parity::Mark: modes.c_cflag |= PARENB | PARODD | CMSPAR; break;
        case SerialSettings::Parity::Space: modes.c_cflag |= PARENB | CMSPAR; break;
        case SerialSettings::Parity::None: break;
        }
        if (settings.flow == SerialSettings::Flow::RtsCts)
            modes.c_cflag |= CRTSCTS;
        if (settings.flow == SerialSettings::Flow::XonXoff)
            modes.c_iflag |= IXON | IXOFF;
        modes.c_cc[VMIN] = 1;
        modes.c_cc[VTIME] = 0;
        if (speed == 0 || ::cfsetspeed(&modes, speed) != 0 || ::tcsetattr(fd, TCSANOW, &modes) != 0) {
            ::close(fd);
            return Opened::Failed;
        }
        // A pseudo-terminal has no modem lines; that is no fault of the line.
        int lines = TIOCM_DTR;
        ::ioctl(fd, settings.dtr ? TIOCMBIS : TIOCMBIC, &lines);
        lines = TIOCM_RTS;
        if (settings.flow != SerialSettings::Flow::RtsCts)
            ::ioctl(fd, settings.rts ? TIOCMBIS : TIOCMBIC, &lines);
        ::ioctl(fd, TIOCEXCL);
        ::tcflush(fd, TCIFLUSH);
        fd_ = fd;
        modes_ = modes;
        lowLatency_ = requestLowLatency();
        return Opened::Yes;
    }

    bool isOpen() const override { return fd_ >= 0; }

    void close() override { release(); }

private:
    void release()
    {
        if (fd_ < 0)
            return;
        ::ioctl(fd_, TIOCNXCL);
        ::flock(fd_, LOCK_UN);
        ::close(fd_);
        fd_ = -1;
    }

public:
    bool write(const char *data, std::size_t size) override
    {
        while (fd_ >= 0 && size > 0) {
            const ssize_t n = ::write(fd_, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd out{fd_, POLLOUT, 0};
                ::poll(&out, 1, -1);
            } else if (n < 0 && errno != EINTR) {
                lost();
                return false;
            }
        }
        return fd_ >= 0;
    }

    long read(char *into, std::size_t most) override
    {
        if (fd_ < 0)
            return -1;
        for (;;) {
            const ssize_t n = ::read(fd_, into, most);
            if (n > 0)
                return static_cast<long>(n);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return 0;
            if (n == 0)
                errno = EIO;  // a hung-up line reads as its end
            return lost() ? 0 : -1;
        }
    }

    Waited waitReadable(int milliseconds) override
    {
        if (fd_ < 0)
            return Waited::Lost;
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        int ready = 0;
        do
            ready = ::poll(fds, 2, milliseconds < 0 ? -1 : milliseconds);
        while (ready < 0 && errno == EINTR);
        if (ready <= 0)
            return Waited::TimeUp;
        if (fds[1].revents & POLLIN) {
            char drained[16];
            while (::read(stopPipe_[0], drained, sizeof drained) > 0) {
            }
            return Waited::Stopped;
        }
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            errno = EIO;
            lost();
            return Waited::Lost;
        }
        return Waited::Readable;
    }

    void stop() override
    {
        const char byte = 1;
        const ssize_t written = ::write(stopPipe_[1], &byte, 1);
        static_cast<void>(written);  // a full pipe holds a stop already
    }

    bool drain() override
    {
        while (fd_ >= 0 && ::tcdrain(fd_) != 0)
            if (errno != EINTR)
                return lost();
        return fd_ >= 0;
    }

    void purgeInput() override
    {
        if (fd_ >= 0)
            ::tcflush(fd_, TCIFLUSH);
    }

    long inputQueued() override { return queued(TIOCINQ); }
    long outputQueued() override { return queued(TIOCOUTQ); }

    void setRts(bool on) override
    {
        int line = TIOCM_RTS;
        if (fd_ >= 0)
            ::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &line);
    }

    bool setWakeChars(int chars) override
    {
        // In raw mode with no inter-character time, poll() reports input once
        // VMIN bytes wait; reads still take whatever is there.
        chars = std::clamp(chars, 1, kMostWakeChars);
        if (fd_ < 0 || modes_.c_cc[VTIME] != 0)
            return false;
        if (modes_.c_cc[VMIN] == chars)
            return true;
        modes_.c_cc[VMIN] = static_cast<cc_t>(chars);
        return ::tcsetattr(fd_, TCSANOW, &modes_) == 0;
    }

    bool lowLatency() const override { return lowLatency_; }
    std::intptr_t readyHandle() const override { return fd_; }

private:
    static constexpr int kMostWakeChars = 255;  // VMIN is one byte

    long queued(unsigned long request) const
    {
        int count = 0;
        return fd_ >= 0 && ::ioctl(fd_, request, &count) == 0 ? count : 0;
    }

    bool requestLowLatency()
    {
#ifdef __linux__
        serial_struct ss{};
        if (::ioctl(fd_, TIOCGSERIAL, &ss) != 0)
            return false;  // no UART driver (a pseudo-terminal): nothing to tune
        ss.flags |= ASYNC_LOW_LATENCY;
        return ::ioctl(fd_, TIOCSSERIAL, &ss) == 0;
#else
        return false;
#endif
    }

    // Closes the line when errno says it is gone; true when it is still there.
    bool lost()
    {
        if (errno != 0 && !isLoss(errno))
            return true;
        close();
        return false;
    }

    int fd_ = -1;
    int stopPipe_[2] = {-1, -1};
    termios modes_{};  // as set at the opening, and since
    bool lowLatency_ = false;
};

}

std::unique_ptr<SerialLine> SerialLine::forThisPlatform()
{
    return std::make_unique<PosixSerialLine>();
}
