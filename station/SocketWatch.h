#pragma once
#include <QHash>
#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;

// The sockets of a station that watches a folder of device links (such as
// /dev/serial/by-path): each link is a socket, named by its file name. Told
// by inotify, never by polling. udev writes a link under a temporary
// dot-name and renames it into place, so renames count as much as creation,
// and dot-names are no sockets. The folder itself may come and go with the
// last adapter: then the nearest folder above it that exists is watched
// until it is back, and it is read again each time a watch is placed, and
// whenever inotify's queue overflowed. A link written again over an old one
// is the old meter gone and a new one plugged.
class SocketWatch : public QObject {
    Q_OBJECT
public:
    explicit SocketWatch(const QString &folder, QObject *parent = nullptr);
    ~SocketWatch() override;

    // Starts watching and tells of every link there now. False when inotify
    // could not be had (no instance left): the reason is in problem().
    bool start();
    QString problem() const { return problem_; }
signals:
    void appeared(const QString &name, const QString &device);
    void gone(const QString &name);

private:
    void onEvents();
    void placeWatch();
    void rescan();
    void linkMade(const QString &name, bool told);

    struct Link {
        QString path;
        QString device;  // the device it reached when seen; empty if none
    };

    QString folder_;
    QString watched_;  // the folder watched now: folder_ or the nearest above it
    int fd_ = -1;
    int watch_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QHash<QString, Link> present_;
    QString problem_;
};
