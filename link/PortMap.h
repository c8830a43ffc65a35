#pragma once
#include <QMap>
#include <QString>

// Maps the tool's port numbers 1..16 to devices. By default port n is the
// system's serial port n (COMn on Windows, /dev/ttyUSB{n-1} on Linux). The
// environment variable OVFW_PORTS, a comma-separated list of N=DEVICE pairs
// such as "3=/dev/pts/7,12=/dev/pts/9", replaces that: then exactly the
// listed ports exist.
class PortMap {
public:
    static constexpr const char *kEnvironmentVariable = "OVFW_PORTS";

    static PortMap systemDefault();
    static PortMap fromEnvironment();
    // Parses an OVFW_PORTS value; malformed entries are skipped and described
    // in `problems` when given.
    static PortMap fromOverride(const QString &list, QStringList *problems = nullptr);

    // The device of port n, or an empty string when port n does not exist.
    QString deviceFor(int portNumber) const;

private:
    bool overridden_ = false;
    QMap<int, QString> devices_;
};
