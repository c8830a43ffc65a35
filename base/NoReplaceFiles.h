#pragma once
#include <QString>
#include <cstdio>

// Files that never take the place of another.

// Creates the file at `path` for writing, binary; null where something
// already has that name or it cannot be made.
std::FILE *createNewFile(const QString &path);

// Gives the file that `stream` writes, at `from`, the name `to`, unless
// something already has that name: nothing is ever replaced. The stream
// goes on writing to the file under its new name (on Windows it is closed
// and opened again for appending, since an open file cannot be renamed
// there). False, with the file and stream as they were, where it cannot.
bool renameOpenFile(std::FILE *&stream, const QString &from, const QString &to);
