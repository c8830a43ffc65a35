#include "link/PortMap.h"
#include "base/FwUpGlobals.h"
#include <QStringList>
#include <QtGlobal>
#include <cstdio>

PortMap PortMap::systemDefault()
{
    return PortMap{};
}

PortMap PortMap::fromEnvironment()
{
    if (!qEnvironmentVariableIsSet(kEnvironmentVariable))
        return systemDefault();
    QStringList problems;
    PortMap map = fromOverride(qEnvironmentVariable(kEnvironmentVariable), &problems);
    for (const QString &p : problems)
        std::fprintf(stderr, "%s: %s\n", kEnvironmentVariable, qPrintable(p));
    return map;
}

PortMap PortMap::fromOverride(const QString &list, QStringList *problems)
{
    PortMap map;
    map.overridden_ = true;
    const QStringList entries = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        const int eq = entry.indexOf(QLatin1Char('='));
        bool ok = false;
        const int n = eq > 0 ? entry.left(eq).trimmed().toInt(&ok) : 0;
        const QString device = eq > 0 ? entry.mid(eq + 1).trimmed() : QString();
        if (!ok || n < 1 || n > FwUpGlobals::kPortCount || device.isEmpty()) {
            if (problems)
                problems->append(QStringLiteral("ignored \"%1\": expected N=DEVICE with N from 1 to %2")
                                     .arg(entry)
                                     .arg(FwUpGlobals::kPortCount));
            continue;
        }
        map.devices_.insert(n, device);
    }
    return map;
}

QString PortMap::deviceFor(int portNumber) const
{
    if (portNumber < 1 || portNumber > FwUpGlobals::kPortCount)
        return {};
    if (overridden_)
        return devices_.value(portNumber);
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    return QStringLiteral("/dev/ttyUSB%1").arg(portNumber - 1);
#endif
}
