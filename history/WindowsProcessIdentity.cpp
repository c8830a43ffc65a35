#include "history/ProcessIdentity.h"
#include <QSysInfo>
#include <windows.h>

namespace {
// A process's creation time, in 100-nanosecond steps since 1601: with the
// process id it names one process for the machine's whole life, so Windows
// needs no boot id beside it.
qint64 creationTime(HANDLE process)
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return -1;
    return static_cast<qint64>((static_cast<quint64>(created.dwHighDateTime) << 32) | created.dwLowDateTime);
}

QString userName()
{
    constexpr DWORD kNameChars = 257;  // the longest user name and its end
    wchar_t name[kNameChars] = {};
    DWORD size = kNameChars;
    return ::GetUserNameW(name, &size) ? QString::fromWCharArray(name) : QString();
}
}

const ProcessIdentity &ProcessIdentity::current()
{
    static const ProcessIdentity self = [] {
        ProcessIdentity p;
        p.pid = static_cast<qint64>(::GetCurrentProcessId());
        p.start = creationTime(::GetCurrentProcess());
        p.host = QSysInfo::machineHostName();
        p.user = userName();
        return p;
    }();
    return self;
}

bool ProcessIdentity::stillRuns(const QString &host, const QString &bootId, qint64 pid, qint64 start)
{
    const ProcessIdentity &self = current();
    if (host != self.host)
        return true;
    if (bootId != self.bootId || pid <= 0)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr)
        return ::GetLastError() == ERROR_ACCESS_DENIED;  // another user's: it runs
    DWORD exitCode = 0;
    const bool runs = ::GetExitCodeProcess(process, &exitCode) && exitCode == STILL_ACTIVE &&
                      creationTime(process) == start;
    ::CloseHandle(process);
    return runs;
}
