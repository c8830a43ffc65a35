#include "cli/StopSignal.h"
#include <windows.h>

namespace {

// What the console's default handler would end the process with.
constexpr UINT kStoppedAtOnceStatus = STATUS_CONTROL_C_EXIT;
// The system ends the process as soon as the handler of a close, logoff or
// shutdown returns, and at the latest about five seconds after it began: the
// handler holds on, so the meters can finish their lines meanwhile.
constexpr DWORD kEndingGraceMs = 4500;

void writeStandardError(const char *text, std::size_t length)
{
    HANDLE out = ::GetStdHandle(STD_ERROR_HANDLE);
    while (length > 0 && out != nullptr && out != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (!::WriteFile(out, text, static_cast<DWORD>(length), &written, nullptr) || written == 0)
            return;
        text += written;
        length -= written;
    }
}

// Runs on a thread the console starts for it.
BOOL WINAPI onConsoleControl(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    if (StopSignal::countStop()) {
        StopSignal::writeEscapeNote(writeStandardError);
        ::ExitProcess(kStoppedAtOnceStatus);
    }
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        ::Sleep(kEndingGraceMs);
    return TRUE;
}

} // namespace

void StopSignal::install()
{
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}
