// Holds the serial device named on the command line open until standard input
// closes, and says "holding" once it has it.
#include <QCoreApplication>
#include <QSerialPort>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::printf("refused\n");
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    char buf[64];
    while (std::fgets(buf, sizeof buf, stdin)) {
    }
    return 0;
}
