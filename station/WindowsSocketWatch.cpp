#include "station/SocketWatch.h"
#include <QSocketNotifier>

// Windows has no folder of device links to watch: a station there lists its
// fixed sockets by COM name.
SocketWatch::SocketWatch(const QString &folder, QObject *parent) : QObject(parent), folder_(folder) {}

SocketWatch::~SocketWatch() = default;

bool SocketWatch::start()
{
    problem_ = QStringLiteral("a station on Windows cannot watch a folder of device links (%1); "
                              "list its sockets under [sockets] with their COM names instead")
                   .arg(folder_);
    return false;
}
