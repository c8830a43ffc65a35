#include "link/PortMap.h"
#include "link/PortStatus.h"
#include <QStringList>
#include <QtGlobal>
#include <algorithm>
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
    QMap<int, QString> entryOf;  // the entry each port took its device from
    const auto note = [problems](const QString &problem) {
        if (problems)
            problems->append(problem);
    };
    const QStringList entries = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &raw : entries) {
        const QString entry = raw.trimmed();
        if (entry.isEmpty())
            continue;
        const int eq = entry.indexOf(QLatin1Char('='));
        bool ok = false;
        const int n = eq > 0 ? entry.left(eq).trimmed().toInt(&ok) : 0;
        const QString device = eq > 0 ? entry.mid(eq + 1).trimmed() : QString();
        // Most likely two entries run together ("3=/dev/a;4=/dev/b"): no device
        // of that name is meant.
        if (entry.contains(QLatin1Char(';')) || device.contains(QLatin1Char('=')) ||
            std::any_of(device.cbegin(), device.cend(), [](QChar c) { return c.isSpace(); })) {
            note(QStringLiteral("ignored \"%1\": a device name cannot contain ';', '=' or blanks; "
                                "separate entries with commas, as in \"3=/dev/pts/7,12=/dev/ttyACM0\"")
                     .arg(entry));
            continue;
        }
        if (!ok || n < 1 || n > PortMap::kPortCount || device.isEmpty()) {
            note(QStringLiteral("ignored \"%1\": expected N=DEVICE with N from 1 to %2")
                     .arg(entry, QString::number(PortMap::kPortCount)));
            continue;
        }
        if (entryOf.contains(n))
            note(QStringLiteral("port %1 is listed twice: \"%2\" replaces \"%3\" (the last entry for a port wins)")
                     .arg(n)
                     .arg(entry, entryOf.value(n)));
        entryOf.insert(n, entry);
        map.devices_.insert(n, device);
    }
    return map;
}

QString PortMap::deviceFor(int portNumber) const
{
    if (portNumber < 1 || portNumber > PortMap::kPortCount)
        return {};
    if (overridden_)
        return devices_.value(portNumber);
    return defaultDeviceName(portNumber);
}
