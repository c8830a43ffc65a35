// A stand-in for the login manager on a private bus (the address in
// DBUS_SYSTEM_BUS_ADDRESS): org.freedesktop.login1 with Manager.Inhibit. It
// prints "ready" once it owns its name, "inhibit WHAT|WHO|WHY|MODE" for each
// call, and "released" when the caller has closed every copy of the lock it
// was handed (the write end of a pipe, as logind hands out).
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
void say(const QString &text)
{
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}
}

class Manager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString &what, const QString &who, const QString &why,
                                    const QString &mode)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return {};
        say(QStringLiteral("inhibit %1|%2|%3|%4").arg(what, who, why, mode));
        const int readEnd = fds[0];
        auto *watch = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
        connect(watch, &QSocketNotifier::activated, this, [watch, readEnd] {
            char byte;
            if (::read(readEnd, &byte, 1) > 0)
                return;
            watch->setEnabled(false);
            ::close(readEnd);
            say(QStringLiteral("released"));
        });
        QDBusUnixFileDescriptor lock(fds[1]);  // a copy goes to the caller
        ::close(fds[1]);
        return lock;
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::systemBus();
    Manager manager;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fprintf(stderr, "login_manager_standin: %s\n", bus.lastError().message().toUtf8().constData());
        return 1;
    }
    say(QStringLiteral("ready"));
    return app.exec();
}

#include "login_manager_standin.moc"
