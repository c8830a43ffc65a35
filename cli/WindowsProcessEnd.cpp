#include "cli/ProcessEnd.h"
#include <cstdio>
#include <windows.h>

namespace ProcessEnd {
// Once meters have run on threads of their own, the DLLs' teardown at exit
// can wait forever: the C++ runtime's teardown deletes its thread key, and
// after several threads ended together the thread library's lock on its key
// table can stay taken, so the deletion waits for good. Nothing left needs
// that teardown, so the process ends without it.
int afterRun(int status)
{
    std::fflush(nullptr);
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    return status;
}
}
