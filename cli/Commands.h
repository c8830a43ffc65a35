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

// The whole command line; main() only calls this.
int ovfwMain(int argc, char **argv);
