#pragma once
#include <QString>

// Standard output and error, whole lines at a time from any thread.
namespace Console {
void out(const QString &text);
void err(const QString &text);
bool outIsTerminal();
bool inIsTerminal();
// Whether colour codes on standard output show as colour: a terminal (on
// Windows, a console that takes them).
bool outTakesColour();
// Each meter holds a port, its transcript and its thread's wake-ups: a
// bench of a hundred meters or more passes the usual soft limit of 1024
// open files, so ovfw takes all that the hard limit allows.
void raiseOpenFileLimit();
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
