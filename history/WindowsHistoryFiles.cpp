#include "history/HistoryFiles.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace HistoryFiles {

// The user's local application data folder, which only that user (and the
// system's administrators) may read.
QString stateFolder()
{
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    if (!local.isEmpty() && !QDir::isRelativePath(local))
        return QDir::fromNativeSeparators(local);
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

// The file takes its access from its folder, as every file there does.
bool createFile(const QString &path, QString &why)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QFileInfo::exists(folder) && !QDir().mkpath(folder)) {
        why = QStringLiteral("cannot make the folder %1").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    if (info.exists())
        return true;
    QFile file(path);
    // Another copy of the tool may have made it meanwhile.
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || QFileInfo::exists(path))
        return true;
    why = file.errorString();
    return false;
}
}
