#include "base/NoReplaceFiles.h"
#include <QDir>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

std::FILE *createNewFile(const QString &path)
{
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    const int fd = ::_wopen(name.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT,
                            _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE *stream = ::_fdopen(fd, "wb");
    if (stream == nullptr)
        ::_close(fd);
    return stream;
}

bool renameOpenFile(std::FILE *&stream, const QString &from, const QString &to)
{
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
    const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
    std::fflush(stream);
    std::fclose(stream);
    // Without MOVEFILE_REPLACE_EXISTING a name that is taken is refused.
    const bool moved = ::MoveFileExW(source.c_str(), target.c_str(), 0) != 0;
    stream = ::_wfopen(moved ? target.c_str() : source.c_str(), L"ab");
    return moved && stream != nullptr;
}
