#pragma once
#include <QByteArray>
#include <QString>

// File names as the system holds them: bytes, usually UTF-8 but not always
// (a Latin-1 name, a stray 0xFF). A byte that is not part of valid UTF-8 is
// kept as the code unit U+DC00 + byte, so every name read from the command
// line turns back into exactly the bytes it came from.
namespace FileNames {

inline QString decode(const QByteArray &bytes)
{
    QString out;
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char c = b[i];
        int length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 && c >= 0xC2 ? 2 : (c & 0xF0) == 0xE0 ? 3
                                  : (c & 0xF8) == 0xF0 && c <= 0xF4   ? 4 : 0;
        for (int k = 1; k < length; ++k)
            if (i + k >= n || (b[i + k] & 0xC0) != 0x80)
                length = 0;
        const QString piece = length > 0 ? QString::fromUtf8(bytes.constData() + i, length) : QString();
        if (length == 0 || piece.contains(QChar(QChar::ReplacementCharacter))) {
            out += QChar(static_cast<char16_t>(0xDC00 | c));
            ++i;
        } else {
            out += piece;
            i += length;
        }
    }
    return out;
}

inline QByteArray encode(const QString &name)
{
    QByteArray out;
    QString run;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t u = name.at(i).unicode();
        const bool kept = u >= 0xDC80 && u <= 0xDCFF && (i == 0 || !name.at(i - 1).isHighSurrogate());
        if (!kept) {
            run += name.at(i);
            continue;
        }
        out += run.toUtf8();
        run.clear();
        out += static_cast<char>(u & 0xFF);
    }
    return out + run.toUtf8();
}

}
