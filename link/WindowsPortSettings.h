#pragma once
// How a COM port is named and set on Windows: the device path CreateFileW
// takes, the name of the hold that keeps two copies of this tool apart, and
// the line's settings as a DCB and read timeouts.
#include "link/SerialLine.h"
#include <windows.h>
#include <string>

namespace WindowsPortSettings {

// COM10 and above, and any COM port where a path is expected, are reached
// through the device namespace: "COM12" is "\\.\COM12".
std::wstring devicePath(const std::string &device);

// The device's name as a kernel object's name takes it: in capitals (COM1
// and com1 are one port), without the backslashes such names may not hold.
std::wstring holdName(const std::string &device);

// The settings laid over the port's current state (which GetCommState gave).
void apply(const SerialSettings &settings, DCB &dcb);

// A read returns at once with what has come; with nothing there it waits for
// the first byte, for as long as longestMs allows (the waits cut it short).
COMMTIMEOUTS waitingReads(DWORD longestMs);

}
