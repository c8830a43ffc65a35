#pragma once
#include "cli/ExitStatus.h"
#include <QStringList>

// `args` starts with the program name followed by the command's name.
int runCheck(const QStringList &args);
int runIdentify(const QStringList &args);
int runUpgrade(const QStringList &args);
int runPorts(const QStringList &args);
int runHistory(const QStringList &args);
int runStation(const QStringList &args);
// `ovfw history push` and `ovfw history init-server`; `args` starts with "history push" or "history init-server".
int runHistoryPush(const QStringList &args);
int runHistoryInitServer(const QStringList &args);

// One command of ovfw: its name (one word, or two as in "history push"),
// the arguments it takes as the overview shows them, what it does in a
// line, and what runs it. Its options and its own help come from its run.
struct Command {
    QString name;
    QString arguments;
    QString summary;
    int (*run)(const QStringList &args);
};
// Every command, in the order the overview lists them. The overview, and so
// the manual page and the shell completions made from it, come from here.
const QList<Command> &commands();

// The whole command line; main() only calls this.
int ovfwMain(int argc, char **argv);
