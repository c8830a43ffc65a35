#pragma once
// The console's control events as both programs take them (Windows only).
#include <windows.h>

namespace ConsoleEvents {

enum class Kind {
    Interrupt,  // Ctrl+C, Ctrl+Break
    Ending,     // the console closes, the user logs off, the system shuts down
    Other,
};

inline Kind kindOf(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: return Kind::Interrupt;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: return Kind::Ending;
    default: return Kind::Other;
    }
}

// The system ends the process as soon as the handler of an ending returns,
// and at the latest about five seconds after it began: a handler that wants
// the work to wind down holds on this long.
constexpr DWORD kEndingGraceMs = 4500;

} // namespace ConsoleEvents
