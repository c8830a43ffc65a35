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
}
