#include "link/PortStatus.h"
#include "link/SerialLine.h"
#include <QLockFile>

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
    if (state == PortState::NoPermission && !devicePermissionHint().isEmpty())
        note += QStringLiteral("; ") + devicePermissionHint();
    return note;
}

PortState portStateOf(SerialLine::Opened opened)
{
    switch (opened) {
    case SerialLine::Opened::Yes: return PortState::Present;
    case SerialLine::Opened::Missing: return PortState::Missing;
    case SerialLine::Opened::InUse: return PortState::InUse;
    case SerialLine::Opened::NoPermission: return PortState::NoPermission;
    case SerialLine::Opened::NotSerial: return PortState::NotSerial;
    case SerialLine::Opened::Failed: break;
    }
    return PortState::OpenFailed;
}

PortState portState(const QString &device)
{
    const std::unique_ptr<SerialLine> line = SerialLine::forThisPlatform();
    std::unique_ptr<QLockFile> lock;
    const PortState state = openHeld(*line, lock, device, SerialSettings{});
    line->close();
    return state;
}

