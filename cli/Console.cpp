#include "cli/Console.h"
#include <QMutex>
#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {
QMutex &lock()
{
    static QMutex m;
    return m;
}

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    QMutexLocker hold(&lock());
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}
}

namespace Console {
void out(const QString &text) { write(stdout, text); }
void err(const QString &text) { write(stderr, text); }
bool outIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool inIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

int outColumns()
{
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

QString readLine()
{
    constexpr int kAnswerChars = 256;
    char buffer[kAnswerChars];
    if (!std::fgets(buffer, sizeof buffer, stdin))
        return {};
    return QString::fromLocal8Bit(buffer).trimmed();
}
}
