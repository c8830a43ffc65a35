// ovfw's entry: picks the command named first and hands it the rest.
#include "base/FileNames.h"
#include "cli/Commands.h"
#include "history/HistoryStore.h"
#include "cli/Console.h"
#include "FwUpVersion.h"
#include <QCoreApplication>

namespace {
const QString kOverview = QStringLiteral(
    "Usage: ovfw COMMAND [OPTIONS]\n"
    "Upgrades the firmware of orvane meters from a production bench, without a window.\n"
    "\n"
    "Commands:\n"
    "  check FILE        check an upgrade file without touching a meter\n"
    "  identify          identify the meters on the named (or all present) ports\n"
    "  upgrade FILE      upgrade the meters on the named ports, all at once\n"
    "  ports             list ports 1 to 16, their devices and state\n"
    "  history           list the upgrade attempts recorded, newest first\n"
    "  history push      send them to the records server (PostgreSQL)\n"
    "  history init-server URL  make the records server's table\n"
    "  station PROFILE   upgrade meters as they are plugged into a station's sockets\n"
    "\n"
    "`ovfw COMMAND --help` (or `ovfw help COMMAND`) describes a command; `ovfw --version`\n"
    "prints the version.\n"
    "Ports are numbered 1 to 16; by default port n is /dev/ttyUSB{n-1}. The\n"
    "environment variable OVFW_PORTS=\"N=DEVICE,...\" replaces that map.\n"
    "\n"
    "Exit status: 0 all good, 1 at least one meter failed, 2 usage error or the\n"
    "file failed its check, 130 interrupted.\n");
}

int ovfwMain(int argc, char **argv)
{
    Console::raiseOpenFileLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ovfw"));
    HistoryStore::prepareForThreads();  // before any meter's thread opens the history
    // Taken from argv as bytes, so a file name that is not valid UTF-8 opens.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << FileNames::decode(QByteArray(argv[i]));
    // `ovfw help COMMAND` is `ovfw COMMAND --help`.
    if (args.value(1) == QLatin1String("help") && args.size() > 2)
        args = QStringList{args.first()} + args.mid(2) + QStringList{QStringLiteral("--help")};
    const QString command = args.value(1);
    if (command == QLatin1String("check"))
        return runCheck(args.mid(1));
    if (command == QLatin1String("identify"))
        return runIdentify(args.mid(1));
    if (command == QLatin1String("upgrade"))
        return runUpgrade(args.mid(1));
    if (command == QLatin1String("ports"))
        return runPorts(args.mid(1));
    if (command == QLatin1String("history"))
        return runHistory(args.mid(1));
    if (command == QLatin1String("station"))
        return runStation(args.mid(1));
    if (command == QLatin1String("--version")) {
        Console::out(QStringLiteral("ovfw %1.%2.%3\n").arg(FwUpVersion::Major).arg(FwUpVersion::Minor).arg(FwUpVersion::Revision));
        return ExitStatus::Ok;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        Console::out(kOverview);
        return ExitStatus::Ok;
    }
    Console::err(command.isEmpty() ? kOverview
                                   : QStringLiteral("ovfw: unknown command \"%1\"\n\n%2").arg(command, kOverview));
    return ExitStatus::Usage;
}
