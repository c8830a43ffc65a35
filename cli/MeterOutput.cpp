#include "cli/MeterOutput.h"
#include "base/Escaped.h"
#include "base/MonotonicClock.h"
#include "base/ShellQuote.h"
#include "cli/Console.h"

namespace {
constexpr int kBarChars = 24;
constexpr int kSecondsPerMinute = 60;

QString serialOf(const MeterStatus &s)
{
    return s.serial.isEmpty() ? QStringLiteral("-") : Escaped::text(s.serial);
}

// The meter's name in the summary's first column: the port's number alone.
QString columnName(const MeterAddress &where)
{
    return where.form() == MeterAddress::Form::Port ? QString::number(where.portNumber()) : where.displayName();
}
}

namespace MeterOutput {

QString clock(double seconds)
{
    const int s = qMax(0, qRound(seconds));
    return QStringLiteral("%1:%2").arg(s / kSecondsPerMinute).arg(s % kSecondsPerMinute, 2, 10, QLatin1Char('0'));
}

// Each line cut to the terminal's width as it is now (a resize is followed
// at the next redraw): a line that wrapped would take two rows while the
// redraw moves up one per line. The last column stays free, as some
// terminals wrap on writing it.
QString redrawn(const QStringList &lines, int linesShown)
{
    const int columns = Console::outColumns();
    QString text = linesShown > 0 ? QStringLiteral("\x1b[%1A").arg(linesShown) : QString();
    for (const QString &line : lines)
        text += QStringLiteral("\r\x1b[2K") + (columns > 1 ? Console::fitted(line, columns - 1) : line) + QLatin1Char('\n');
    return text;
}

QString liveLines(const MeterBoard &board, int linesShown, const QStringList &notes)
{
    QStringList lines = notes;
    const double now = MonotonicClock::now();
    for (const MeterStatus &s : board.all())
        lines << progressLine(s, now);
    return redrawn(lines, linesShown);
}

QString progressLine(const MeterStatus &s, double now)
{
    QString line = s.address.form() == MeterAddress::Form::Port
                       ? QStringLiteral("port %1  %2  ").arg(s.address.portNumber(), 2).arg(serialOf(s), -12)
                       : s.address.displayName() + QStringLiteral("  ") + serialOf(s).leftJustified(12) +
                             QStringLiteral("  ");
    if (s.result != MeterResult::Pending)
        return line + paintedAs(s.result, resultLine(s));
    if (s.phase != QLatin1String("sending"))
        return line + s.phase;
    const double share = s.totalLines > 0 ? qBound(0.0, double(s.lines) / double(s.totalLines), 1.0) : 0.0;
    const int filled = static_cast<int>(share * kBarChars);
    const double elapsed = now - s.transferStartedAt;
    const double rate = elapsed > 0 ? s.bytes / elapsed : 0;
    const double left = s.lines > 0 ? elapsed * double(s.totalLines - s.lines) / double(s.lines) : 0;
    return line + QStringLiteral("[%1%2] %3/%4  %5 B/s  %6 left")
                      .arg(QString(filled, QLatin1Char('#')), QString(kBarChars - filled, QLatin1Char('.')))
                      .arg(s.lines)
                      .arg(s.totalLines)
                      .arg(qRound(rate))
                      .arg(s.lines > 0 ? clock(left) : QStringLiteral("-:--"));
}

QString summary(const QList<MeterStatus> &meters)
{
    QString out = QStringLiteral("%1  %2  %3  %4  %5  %6\n")
                      .arg(QStringLiteral("port"), 4)
                      .arg(QStringLiteral("serial"), -12)
                      .arg(QStringLiteral("result"), -11)
                      .arg(QStringLiteral("lines"), 11)
                      .arg(QStringLiteral("time"), 6)
                      .arg(QStringLiteral("retries"));
    for (const MeterStatus &s : meters) {
        out += QStringLiteral("%1  %2  %3  %4  %5  %6%7\n")
                   .arg(columnName(s.address), 4)
                   .arg(serialOf(s), -12)
                   .arg(paintedAs(s.result, resultWords(s.result).leftJustified(11)))
                   .arg(QStringLiteral("%1/%2").arg(s.lines).arg(s.totalLines), 11)
                   .arg(clock(s.finishedAt - s.startedAt), 6)
                   .arg(s.retries, 7)
                   .arg(s.message.isEmpty() ? QString() : QStringLiteral("  ") + s.message);
    }
    return out;
}

QString bootLoaderAdvice(const QList<MeterStatus> &meters, const QString &filePath)
{
    QString out;
    for (const MeterStatus &s : meters) {
        if (s.leftInBootLoader == false)
            continue;
        out += (s.leftInBootLoader ? QStringLiteral("%1 (%2) is left in its boot loader; finish it with:\n")
                                   : QStringLiteral("%1 (%2) may be in its boot loader; if so, finish it with:\n"))
                   .arg(s.address.title(), serialOf(s));
        out += QStringLiteral("  %1\n").arg(finishCommand(filePath, s.address));
    }
    return out;
}

QString finishCommand(const QString &filePath, const MeterAddress &where)
{
    return QStringLiteral("ovfw upgrade %1 --boot %2").arg(ShellQuote::path(filePath), where.recoveryOption());
}

QString signalNote(const QString &filePath, const MeterAddress &where)
{
    return QStringLiteral("%1 may be in its boot loader; finish it with:\n  %2\n")
        .arg(where.title(), finishCommand(filePath, where));
}


}
