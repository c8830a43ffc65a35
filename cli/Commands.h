#pragma once
#include <QCommandLineParser>
#include <QStringList>

// Exit statuses of ovfw.
namespace ExitStatus {
constexpr int Ok = 0;
constexpr int MeterFailed = 1;   // at least one meter failed
constexpr int Usage = 2;         // usage error, or the file failed its check
constexpr int Interrupted = 130; // SIGINT or SIGTERM
}

// `args` starts with the program name followed by the command's name.
int runCheck(const QStringList &args);
int runIdentify(const QStringList &args);
int runUpgrade(const QStringList &args);
int runPorts(const QStringList &args);

// The whole command line; main() only calls this.
int ovfwMain(int argc, char **argv);

namespace CommandLine {
// Parses a command's arguments. Returns -1 to go on, or the exit status when
// help was printed (0) or the arguments were wrong (Usage).
int parse(QCommandLineParser &parser, const QStringList &args);
// Ports 1..16 given with --port; false (with a message) on a bad value.
bool portNumbers(const QStringList &values, QList<int> &ports);
}
