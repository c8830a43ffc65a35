#pragma once
#include "base/Escaped.h"
#include <QString>

// A word of a command printed for a person to paste into a POSIX shell: in
// single quotes, inside which the shell expands nothing ($(…), `…`, $VAR, *),
// with each quote of the word written '\''.
namespace ShellQuote {

inline QString quoted(const QString &word)
{
    QString out = QStringLiteral("'");
    for (const QChar c : word) {
        if (c == QLatin1Char('\''))
            out += QStringLiteral("'\\''");
        else
            out += c;
    }
    return out + QLatin1Char('\'');
}

// A path in a printed command: quoted, and escaped as well when it holds a
// character that may not reach the terminal (the command then shows that
// character as an escape, to be typed as it is meant).
inline QString path(const QString &path)
{
    const QString word = quoted(path);
    return Escaped::isNeeded(path) ? Escaped::text(word) : word;
}

}
