#pragma once
#include <QByteArray>
#include <QString>

// What reaches a terminal from outside (a meter's bytes, a file's name, a
// row of a shared history) as visible escapes wherever it could act on the
// terminal instead of being read: CR as \r, LF as \n, a backslash as \\ and
// any other control character as \xHH, so a name cannot clear the screen,
// move the cursor or forge a line. The transcripts, the messages and the
// tables all show text this one way.
namespace Escaped {

namespace detail {
inline void appendHex(QString &out, char16_t c, int digits)
{
    out += digits == 2 ? QStringLiteral("\\x") : QStringLiteral("\\u");
    out += QStringLiteral("%1").arg(static_cast<uint>(c), digits, 16, QLatin1Char('0')).toUpper();
}

// A character that would steer the terminal or the reading order rather than
// be shown: the C0 and C1 controls, DEL, the line and paragraph separators
// and the bidirectional controls.
inline bool steers(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x200E || c == 0x200F ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// A file name's byte that is not UTF-8, kept as U+DC00 + byte (see FileNames.h).
inline bool isRawByte(const QString &text, qsizetype i)
{
    const char16_t c = text.at(i).unicode();
    return c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !text.at(i - 1).isHighSurrogate());
}

inline bool isLoneSurrogate(const QString &text, qsizetype i)
{
    const QChar c = text.at(i);
    if (c.isHighSurrogate())
        return i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate();
    return c.isLowSurrogate() && (i == 0 || !text.at(i - 1).isHighSurrogate());
}

inline void appendEscaped(QString &out, char16_t c)
{
    if (c == '\r')
        out += QStringLiteral("\\r");
    else if (c == '\n')
        out += QStringLiteral("\\n");
    else if (c == '\\')
        out += QStringLiteral("\\\\");
    else
        appendHex(out, c, c <= 0xFF ? 2 : 4);
}
}

// Bytes from the wire: printable ASCII as it is, every other byte escaped.
inline QString bytes(const QByteArray &bytes)
{
    QString out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\')
            out += QLatin1Char(ch);
        else
            detail::appendEscaped(out, c);
    }
    return out;
}

// Text (a name, a history field): printable characters of any script as
// they are; controls escaped, and a name's byte that is not UTF-8 as \xHH.
inline QString text(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (detail::isRawByte(text, i))
            detail::appendHex(out, c & 0xFF, 2);
        else if (detail::steers(c) || c == '\\' || detail::isLoneSurrogate(text, i))
            detail::appendEscaped(out, c);
        else
            out += text.at(i);
    }
    return out;
}

// Whether `text` holds a character that may not reach a terminal as it is
// (a backslash alone does not count: it is harmless, only ambiguous).
inline bool isNeeded(const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        if (detail::steers(text.at(i).unicode()) || detail::isLoneSurrogate(text, i))
            return true;
    return false;
}

}
