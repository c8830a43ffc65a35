#pragma once
#include <QFile>
#include <QString>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// A Unix socket at `path` that takes connections and never answers: it
// never accepts, and the kernel completes connections into its backlog. A
// server that hangs, for a client to meet. Closed with the object.
class SilentListener {
public:
    explicit SilentListener(const QString &path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof(address.sun_path) - 1);
        if (fd_ >= 0 && (::bind(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0 ||
                         ::listen(fd_, SOMAXCONN) != 0)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~SilentListener()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    bool listening() const { return fd_ >= 0; }

private:
    int fd_;
};
