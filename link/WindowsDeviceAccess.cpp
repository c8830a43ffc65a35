// Devices on Windows: COM ports by name. The serial line itself holds a port
// against every other opener (no sharing, and a named hold for the tool's
// own copies), so there is no lock file to take.
#include "link/PortStatus.h"
#include "link/SerialLine.h"
#include <QFile>
#include <QLockFile>
#include <QRegularExpression>

QString devicePermissionHint()
{
    return {};  // Windows denies a port that another program holds
}

QString defaultDeviceName(int portNumber)
{
    return QStringLiteral("COM%1").arg(portNumber);
}

QString resolvedDevicePath(const QString &device)
{
    static const QRegularExpression comPort(QStringLiteral("^(?:\\\\\\\\\\.\\\\)?COM([1-9][0-9]{0,2})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comPort.match(device);
    if (match.hasMatch())
        return QStringLiteral("COM") + match.captured(1);
    return device;
}

PortState openHeld(SerialLine &line, std::unique_ptr<QLockFile> &lock, const QString &device,
                   const SerialSettings &settings)
{
    lock.reset();
    if (device.isEmpty())
        return PortState::Missing;
    return portStateOf(line.open(resolvedDevicePath(device).toStdString(), settings));
}
