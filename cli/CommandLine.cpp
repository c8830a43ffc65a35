// What every command does first: its arguments parsed, help printed, port
// numbers checked.
#include "cli/CommandLine.h"
#include "cli/ExitStatus.h"
#include "cli/Console.h"
#include "base/Escaped.h"
#include "link/MeterAddress.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace {
// The device a name reaches: its links resolved; a name of nothing, cleaned.
QString realDevice(const QString &name)
{
    const QString resolved = resolvedDevicePath(name);
    return resolved.isEmpty() ? QDir::cleanPath(QFileInfo(name).absoluteFilePath()) : resolved;
}

QString meterName(const MeterAddress &meter)
{
    if (meter.form() != MeterAddress::Form::Port)
        return meter.displayName();
    return QStringLiteral("%1 (%2)").arg(meter.displayName(), Escaped::text(meter.devicePath()));
}
}

namespace CommandLine {

int parse(QCommandLineParser &parser, const QStringList &args, bool takesFile)
{
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text."));
    parser.addOption(help);
    if (!parser.parse(args)) {
        Console::err(QStringLiteral("ovfw: %1\n").arg(parser.errorText()));
        return ExitStatus::Usage;
    }
    if (parser.isSet(help)) {
        // The parser names the program by its path; the command belongs there.
        QString text = parser.helpText();
        const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
        const qsizetype usageEnd = text.indexOf(QLatin1String(" [options]"));
        if (usageEnd > 0 && usageEnd < firstLineEnd)
            text.replace(0, usageEnd, QStringLiteral("Usage: ovfw %1").arg(args.value(0)));
        Console::out(text);
        return ExitStatus::Ok;
    }
    const QStringList positional = parser.positionalArguments();
    if (takesFile && positional.size() != 1) {
        Console::err(QStringLiteral("ovfw %1: expected exactly one FILE\n").arg(args.value(0)));
        return ExitStatus::Usage;
    }
    if (!takesFile && !positional.isEmpty()) {
        Console::err(QStringLiteral("ovfw %1: unexpected argument %2\n").arg(args.value(0), positional.first()));
        return ExitStatus::Usage;
    }
    return -1;
}

bool portNumbers(const QStringList &values, QList<int> &ports)
{
    for (const QString &v : values) {
        bool ok = false;
        const int n = v.toInt(&ok);
        if (!ok || n < 1 || n > PortMap::kPortCount) {
            Console::err(QStringLiteral("ovfw: --port %1: expected a port number from 1 to %2\n")
                             .arg(v)
                             .arg(PortMap::kPortCount));
            return false;
        }
        if (ports.contains(n)) {
            Console::err(QStringLiteral("ovfw: port %1 is named twice\n").arg(n));
            return false;
        }
        ports.append(n);
    }
    return true;
}

bool portsExist(const QString &command, const PortMap &map, const QList<int> &ports)
{
    QStringList listed;
    for (int n = 1; n <= PortMap::kPortCount; ++n)
        if (map.isListed(n))
            listed << QString::number(n);
    for (const int n : ports) {
        if (!map.isOverridden() || map.isListed(n))
            continue;
        Console::err(QStringLiteral("ovfw %1: port %2 is not in %3, which lists %4\n")
                         .arg(command)
                         .arg(n)
                         .arg(QLatin1String(PortMap::kEnvironmentVariable),
                              listed.isEmpty() ? QStringLiteral("no port") : QStringLiteral("ports ") + listed.join(QStringLiteral(", "))));
        return false;
    }
    return true;
}

QList<MeterAddress> portAddresses(const PortMap &map, const QList<int> &ports)
{
    QList<MeterAddress> meters;
    for (const int n : ports)
        meters << MeterAddress::port(n, map.deviceFor(n));
    return meters;
}

bool eachMeterOnce(const QList<MeterAddress> &meters)
{
    QHash<QString, MeterAddress> meterOf;  // real device -> the first meter named by it
    for (const MeterAddress &meter : meters) {
        const QString &device = meter.devicePath();
        if (device.isEmpty())
            continue;
        const QString real = realDevice(device);
        const auto first = meterOf.constFind(real);
        if (first == meterOf.cend()) {
            meterOf.insert(real, meter);
            continue;
        }
        Console::err(QStringLiteral("ovfw: %1 and %2 are one meter (%3); name each meter once\n")
                         .arg(meterName(*first), meterName(meter), Escaped::text(real)));
        return false;
    }
    return true;
}

}
