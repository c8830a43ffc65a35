#include "base/FwUpGlobals.h"
#include "cli/Commands.h"
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
    "\n"
    "`ovfw COMMAND --help` describes a command; `ovfw --version` prints the version.\n"
    "Ports are numbered 1 to 16; by default port n is /dev/ttyUSB{n-1}. The\n"
    "environment variable OVFW_PORTS=\"N=DEVICE,...\" replaces that map.\n"
    "\n"
    "Exit status: 0 all good, 1 at least one meter failed, 2 usage error or the\n"
    "file failed its check, 130 interrupted.\n");
}

namespace CommandLine {

int parse(QCommandLineParser &parser, const QStringList &args)
{
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text."));
    parser.addOption(help);
    if (!parser.parse(args)) {
        Console::err(QStringLiteral("ovfw: %1\n").arg(parser.errorText()));
        return ExitStatus::Usage;
    }
    if (parser.isSet(help)) {
        // The parser names the program by its path; the command belongs there.
        QString text = parser.helpText();
        const qsizetype firstLineEnd = text.indexOf(QLatin1Char('\n'));
        const qsizetype usageEnd = text.indexOf(QLatin1String(" [options]"));
        if (usageEnd > 0 && usageEnd < firstLineEnd)
            text.replace(0, usageEnd, QStringLiteral("Usage: ovfw %1").arg(args.value(0)));
        Console::out(text);
        return ExitStatus::Ok;
    }
    return -1;
}

bool portNumbers(const QStringList &values, QList<int> &ports)
{
    for (const QString &v : values) {
        bool ok = false;
        const int n = v.toInt(&ok);
        if (!ok || n < 1 || n > FwUpGlobals::kPortCount) {
            Console::err(QStringLiteral("ovfw: --port %1: expected a port number from 1 to %2\n")
                             .arg(v)
                             .arg(FwUpGlobals::kPortCount));
            return false;
        }
        if (ports.contains(n)) {
            Console::err(QStringLiteral("ovfw: port %1 is named twice\n").arg(n));
            return false;
        }
        ports.append(n);
    }
    return true;
}

}

int ovfwMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ovfw"));
    const QStringList args = QCoreApplication::arguments();
    const QString command = args.value(1);
    if (command == QLatin1String("check"))
        return runCheck(args.mid(1));
    if (command == QLatin1String("identify"))
        return runIdentify(args.mid(1));
    if (command == QLatin1String("upgrade"))
        return runUpgrade(args.mid(1));
    if (command == QLatin1String("ports"))
        return runPorts(args.mid(1));
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
