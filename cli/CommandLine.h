#pragma once
#include <QCommandLineParser>
#include <QList>
#include <QStringList>

class MeterAddress;
class PortMap;

// The steps every command of ovfw starts with.
namespace CommandLine {
// Parses a command's arguments (`args` starts with the command's name), with
// --help added. A command that `takesFile` needs exactly one positional
// argument, any other none. Returns -1 to go on, or the exit status when help
// was printed (0) or the arguments were wrong (Usage).
int parse(QCommandLineParser &parser, const QStringList &args, bool takesFile);
// Ports 1..16 given with --port; false (with a message) on a bad value.
bool portNumbers(const QStringList &values, QList<int> &ports);
// Whether each of `ports` exists in `map`: with OVFW_PORTS, a port it does
// not list is a usage error of `ovfw COMMAND` (with a message).
bool portsExist(const QString &command, const PortMap &map, const QList<int> &ports);
// The meters on ports `ports`, with the devices `map` gives them.
QList<MeterAddress> portAddresses(const PortMap &map, const QList<int> &ports);
// Whether every meter of `meters` is a device of its own, links resolved:
// false, with a message naming both, when one meter is named twice.
bool eachMeterOnce(const QList<MeterAddress> &meters);
}
