#pragma once
#include <QString>

// Where the history lives on this platform, and how its file is born.
namespace HistoryFiles {
// The folder that holds the tool's own folder of state: XDG_STATE_HOME or
// ~/.local/state on Linux, the local application data folder on Windows.
QString stateFolder();
// Makes the folder (new ones private) and the file, so it is born with the
// access it should have rather than with SQLite's default; true when the
// file is there, otherwise why not in `why`.
bool createFile(const QString &path, QString &why);
}
