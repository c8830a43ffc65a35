#pragma once
#include <QString>

// Standard output and error, whole lines at a time from any thread.
namespace Console {
void out(const QString &text);
void err(const QString &text);
bool outIsTerminal();
bool inIsTerminal();
// The width of the terminal on standard output now, in columns; 0 when unknown.
int outColumns();
// Reads one line from standard input; empty at its end.
QString readLine();

// Colour for what people read on a terminal: a failure in red, success in
// green. Only when standard output is a terminal that can show it, and
// NO_COLOR is unset or empty; otherwise the text comes back as it is.
enum class Paint { Success, Failure };
QString painted(const QString &text, Paint paint);
// `line` cut to `columns` characters as they show, colour codes not
// counted and never cut in two.
QString fitted(const QString &line, int columns);
}
