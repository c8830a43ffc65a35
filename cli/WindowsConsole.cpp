#include "cli/Console.h"
#include <windows.h>

namespace {
bool isConsole(DWORD which)
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(which), &mode) != 0;
}
}

namespace Console {
bool outIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }
bool inIsTerminal() { return isConsole(STD_INPUT_HANDLE); }

bool outTakesColour()
{
    // A console shows colour codes once asked to (Windows 10 and later).
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return ::GetConsoleMode(out, &mode) != 0 &&
           ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
            ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0);
}

int outColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// Ports and files are the system's handles, which have no such limit.
void raiseOpenFileLimit() {}
}
