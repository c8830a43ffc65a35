// Holds the serial device named on the command line until standard input
// closes; says "holding" once it has it, "refused" when it cannot (and, as
// this tool, why: "refused: in use by another program").
//
//   ov_port_holder DEVICE          opens it as this tool does (QtCommPort)
//   ov_port_holder --plain DEVICE  opens it through QSerialPort alone, as
//                                  another terminal program would
#include "base/FwUpErrors.h"
#include "link/QtCommPort.h"
#include <QCoreApplication>
#include <QSerialPort>
#include <cstdio>

namespace {
constexpr int kUsageExit = 2;
constexpr int kRefusedExit = 1;
const QString kPlainFlag = QStringLiteral("--plain");

bool holdAsThisTool(QtCommPort &port)
{
    try {
        port.setCommPort(1);
        port.setPortOpen(true);
        return true;
    } catch (const FwUpError &) {
        return false;
    }
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const bool plain = args.value(0) == kPlainFlag;
    if (args.size() != (plain ? 2 : 1))
        return kUsageExit;
    const QString device = args.last();
    QSerialPort plainPort(device);
    QtCommPort toolPort(PortMap::fromOverride(QStringLiteral("1=") + device));
    const bool held = plain ? plainPort.open(QIODevice::ReadWrite) : holdAsThisTool(toolPort);
    const QString why = plain ? QString() : QStringLiteral(": ") + portStateText(toolPort.openState());
    std::printf("%s\n", held ? "holding" : qPrintable(QStringLiteral("refused") + why));
    std::fflush(stdout);
    if (!held)
        return kRefusedExit;
    char buf[64];
    while (std::fgets(buf, sizeof buf, stdin)) {
    }
    return 0;
}
