#include "cli/StopSignal.h"
#include "base/WindowsConsoleEvents.h"
#include <windows.h>

namespace {

// What the console's default handler would end the process with.
constexpr UINT kStoppedAtOnceStatus = STATUS_CONTROL_C_EXIT;

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

// Runs on a thread the console starts for it. On an ending, it holds on so
// the meters can finish their lines meanwhile.
BOOL WINAPI onConsoleControl(DWORD type)
{
    const ConsoleEvents::Kind kind = ConsoleEvents::kindOf(type);
    if (kind == ConsoleEvents::Kind::Other)
        return FALSE;
    if (StopSignal::countStop()) {
        StopSignal::writeEscapeNote(writeStandardError);
        // At once: the DLLs' teardown would wait for threads that are cut
        // short mid-line.
        ::TerminateProcess(::GetCurrentProcess(), kStoppedAtOnceStatus);
    }
    if (kind == ConsoleEvents::Kind::Ending)
        ::Sleep(ConsoleEvents::kEndingGraceMs);
    return TRUE;
}

} // namespace

void StopSignal::install()
{
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}
