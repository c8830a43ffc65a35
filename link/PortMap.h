#pragma once
#include <QMap>
#include <QString>

// Maps the tool's port numbers 1..16 to devices. By default port n is the
// system's serial port n (COMn on Windows, /dev/ttyUSB{n-1} on Linux). The
// environment variable OVFW_PORTS, a comma-separated list of N=DEVICE pairs
// such as "3=/dev/pts/7,12=/dev/pts/9", replaces that: then exactly the
// listed ports exist. A port listed twice takes its last entry.
class PortMap {
public:
    static constexpr int kPortCount = 16;  // serial ports 1..16; 0 is "no port"
    static constexpr const char *kEnvironmentVariable = "OVFW_PORTS";

    static PortMap systemDefault();
    static PortMap fromEnvironment();
    // Parses an OVFW_PORTS value; malformed entries are skipped, and they and
    // a port listed twice are described in `problems` when given.
    static PortMap fromOverride(const QString &list, QStringList *problems = nullptr);

    // The device of port n, or an empty string when port n does not exist.
    QString deviceFor(int portNumber) const;
    // Whether OVFW_PORTS names port n; no port of the default map is named,
    // so a missing default device is nothing to report.
    bool isListed(int portNumber) const { return overridden_ && devices_.contains(portNumber); }
    // Whether OVFW_PORTS made this map: then exactly its ports exist.
    bool isOverridden() const { return overridden_; }

private:
    bool overridden_ = false;
    QMap<int, QString> devices_;
};
