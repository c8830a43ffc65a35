#include "base/NoReplaceFiles.h"
#include <QFile>
#include <unistd.h>

std::FILE *createNewFile(const QString &path)
{
    return std::fopen(QFile::encodeName(path).constData(), "wbx");
}

bool renameOpenFile(std::FILE *&, const QString &from, const QString &to)
{
    // A link is refused where the name is taken, where a rename would
    // replace it.
    const QByteArray source = QFile::encodeName(from), target = QFile::encodeName(to);
    if (::link(source.constData(), target.constData()) != 0)
        return false;
    ::unlink(source.constData());
    return true;
}
