#include "upgrade/FileAccess.h"
#include "base/FwUpErrors.h"
#include <QDir>
#include <QFile>
#include <QUuid>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {
std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// A reader's own handle as a C descriptor for QFile, which closes it.
void openHandle(QFile &file, HANDLE handle, FwUpErrorNumber failure)
{
    if (handle == INVALID_HANDLE_VALUE)
        throw FwUpError(failure);
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        throw FwUpError(failure);
    }
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::_close(fd);
        throw FwUpError(failure);
    }
}

// Where the copy lives while it is open: a name nobody else is told.
QString copyPath()
{
    return QDir::temp().filePath(QStringLiteral("ovfw-upgrade-%1.tmp")
                                     .arg(QUuid::createUuid().toString(QUuid::WithoutBraces)));
}
}

namespace FileAccess {

void openForReading(QFile &file, const QString &path)
{
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    if (path.isEmpty() || attributes == INVALID_FILE_ATTRIBUTES)
        throw FwUpError(::GetLastError() == ERROR_ACCESS_DENIED ? FwUpErrorNumber::FileAccessDenied
                                                                 : FwUpErrorNumber::FileNotFound);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw FwUpError(FwUpErrorNumber::FileAccessDenied);
    HANDLE handle = ::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        throw FwUpError(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                            ? FwUpErrorNumber::FileNotFound
                            : FwUpErrorNumber::FileAccessDenied);
    }
    openHandle(file, handle, FwUpErrorNumber::FileAccessDenied);
}

PrivateCopy::~PrivateCopy()
{
    discard();
}

// The copy is deleted when its last handle closes; until then others may
// only read it, and only by opening it for deletion too (which nobody does).
bool PrivateCopy::create()
{
    discard();
    where_ = copyPath();
    HANDLE handle = ::CreateFileW(wide(where_).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    handle_ = handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<qintptr>(handle);
    return isOpen();
}

bool PrivateCopy::isOpen() const
{
    return handle_ != -1;
}

bool PrivateCopy::append(const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0 && isOpen()) {
        DWORD written = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(handle_), at, static_cast<DWORD>(left), &written, nullptr) ||
            written == 0)
            return false;
        at += written;
        left -= written;
    }
    return left == 0;
}

void PrivateCopy::discard()
{
    if (isOpen())
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

void PrivateCopy::openReader(QFile &file) const
{
    if (!isOpen())
        throw FwUpError(FwUpErrorNumber::FileNotOpen);
    // A handle of its own on the same file: a read position of its own.
    HANDLE reader = ::CreateFileW(wide(where_).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    openHandle(file, reader, FwUpErrorNumber::FileIoError);
}
}
