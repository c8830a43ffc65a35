#include "cli/Console.h"
#include <QMutex>
#include <cstdio>

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

namespace {
const QString kReset = QStringLiteral("\x1b[0m");

bool colourShown()
{
    static const bool shown = outTakesColour() && qEnvironmentVariable("NO_COLOR").isEmpty() &&
                              qEnvironmentVariable("TERM") != QLatin1String("dumb");
    return shown;
}
}

QString painted(const QString &text, Paint paint)
{
    if (!colourShown() || text.isEmpty())
        return text;
    return (paint == Paint::Success ? QStringLiteral("\x1b[32m") : QStringLiteral("\x1b[31m")) + text + kReset;
}

QString fitted(const QString &line, int columns)
{
    QString out;
    int shown = 0;
    bool coloured = false;
    for (qsizetype i = 0; i < line.size();) {
        if (line[i] == QChar(0x1b)) {  // a colour code: ESC [ ... m, kept whole
            const qsizetype end = line.indexOf(QLatin1Char('m'), i);
            const qsizetype stop = end < 0 ? line.size() : end + 1;
            out += line.mid(i, stop - i);
            coloured = true;
            i = stop;
            continue;
        }
        if (shown == columns)
            break;
        out += line[i++];
        ++shown;
    }
    return coloured && !out.endsWith(kReset) ? out + kReset : out;
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
