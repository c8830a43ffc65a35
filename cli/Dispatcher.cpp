// ovfw's entry: picks the command named first and hands it the rest.
#include "base/FileNames.h"
#include "cli/Commands.h"
#include "history/HistoryStore.h"
#include "cli/Console.h"
#include "FwUpVersion.h"
#include <QCoreApplication>

namespace {
// The overview's first column: its width, and the least gap after a longer
// entry (the manual page and the completions split the columns there).
constexpr int kCommandColumnChars = 18;
constexpr int kColumnGapChars = 2;

const QString kOverviewHead = QStringLiteral(
    "Usage: ovfw COMMAND [OPTIONS]\n"
    "Upgrades the firmware of orvane meters from a production bench, without a window.\n"
    "\n"
    "Commands:\n");
const QString kOverviewFoot = QStringLiteral(
    "\n"
    "`ovfw COMMAND --help` (or `ovfw help COMMAND`) describes a command; `ovfw --version`\n"
    "prints the version.\n"
    "Ports are numbered 1 to 16; by default port n is /dev/ttyUSB{n-1}. The\n"
    "environment variable OVFW_PORTS=\"N=DEVICE,...\" replaces that map.\n"
    "\n"
    "Exit status: 0 all good, 1 at least one meter failed, 2 usage error or the\n"
    "file failed its check, 130 interrupted.\n");

QString overview()
{
    QString text = kOverviewHead;
    for (const Command &c : commands()) {
        const QString term = c.arguments.isEmpty() ? c.name : c.name + QLatin1Char(' ') + c.arguments;
        const QString column = term.size() + kColumnGapChars > kCommandColumnChars
                                   ? term + QString(kColumnGapChars, QLatin1Char(' '))
                                   : term.leftJustified(kCommandColumnChars);
        text += QStringLiteral("  ") + column + c.summary + QLatin1Char('\n');
    }
    return text + kOverviewFoot;
}

// The command `args` names (after the program's name): the one whose words
// come first in them, the longest such name when two do.
const Command *commandNamed(const QStringList &args)
{
    const Command *found = nullptr;
    for (const Command &c : commands()) {
        const QStringList words = c.name.split(QLatin1Char(' '));
        if (args.mid(1, words.size()) == words && (!found || c.name.size() > found->name.size()))
            found = &c;
    }
    return found;
}
}

const QList<Command> &commands()
{
    static const QList<Command> all = {
        {QStringLiteral("check"), QStringLiteral("FILE"), QStringLiteral("check an upgrade file without touching a meter"),
         runCheck},
        {QStringLiteral("identify"), QString(),
         QStringLiteral("identify the meters on the named (or all present) ports"), runIdentify},
        {QStringLiteral("upgrade"), QStringLiteral("FILE"),
         QStringLiteral("upgrade the meters on the named ports, all at once"), runUpgrade},
        {QStringLiteral("ports"), QString(), QStringLiteral("list ports 1 to 16, their devices and state"), runPorts},
        {QStringLiteral("history"), QString(), QStringLiteral("list the upgrade attempts recorded, newest first"),
         runHistory},
        {QStringLiteral("history push"), QString(),
         QStringLiteral("send them to the records server (PostgreSQL)"), runHistoryPush},
        {QStringLiteral("history init-server"), QStringLiteral("URL"), QStringLiteral("make the records server's table"),
         runHistoryInitServer},
        {QStringLiteral("station"), QStringLiteral("PROFILE"),
         QStringLiteral("upgrade meters as they are plugged into a station's sockets"), runStation},
    };
    return all;
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
    if (const Command *c = commandNamed(args)) {
        // The command's own name, whole, then what follows it.
        const int words = static_cast<int>(c->name.count(QLatin1Char(' '))) + 1;
        return c->run(QStringList{c->name} + args.mid(1 + words));
    }
    const QString command = args.value(1);
    if (command == QLatin1String("--version")) {
        Console::out(QStringLiteral("ovfw %1.%2.%3\n").arg(FwUpVersion::Major).arg(FwUpVersion::Minor).arg(FwUpVersion::Revision));
        return ExitStatus::Ok;
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        Console::out(overview());
        return ExitStatus::Ok;
    }
    Console::err(command.isEmpty() ? overview()
                                   : QStringLiteral("ovfw: unknown command \"%1\"\n\n%2").arg(command, overview()));
    return ExitStatus::Usage;
}
