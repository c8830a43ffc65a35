#pragma once
#include "link/SerialLine.h"
#include <QString>
#include <memory>

class QLockFile;

// Whether a serial device can be used, and if not why, as the tool's own
// opening finds it. The window notes why a port is absent; a command line can
// list the same states.
enum class PortState {
    Present,       // opens, and nobody else holds it
    InUse,         // another program, or another copy of this tool, holds it
    LeftExclusive, // nobody holds it, but a program that was killed left the driver's exclusive
                   // mode set, and this user may not clear it
    NoPermission,  // this user may not open it
    Missing,       // nothing by that name
    NotSerial,     // something that is not a serial device (a file, /dev/null)
    OpenFailed,    // a serial device that refused to open for another reason
};

// A few words for the state, e.g. "in use by another program".
QString portStateText(PortState state);

// The line that tells the user why port n is absent, with what to do about
// it where there is something to do.
QString portStateNote(int portNumber, const QString &device, PortState state);

// What to do when this user may not open a serial device; empty where the
// platform has no such advice.
QString devicePermissionHint();

// The device of port n (1 to 16) where nothing else is said of it:
// /dev/ttyUSB{n-1} on Linux, COMn on Windows.
QString defaultDeviceName(int portNumber);

// The device a port name reaches. On Linux a bare name is taken under /dev,
// as serial tools do, and symbolic links are followed (a /dev/serial/by-id
// name reaches /dev/ttyUSB0); on Windows "com3" and "\\.\COM3" reach COM3.
// Empty when nothing is there.
QString resolvedDevicePath(const QString &device);

// What a line's opening says, as a port's state.
PortState portStateOf(SerialLine::Opened opened);

// Opens the device as the tool does and lets go again.
PortState portState(const QString &device);

// Opens `device` on `line` at its resolved path with `settings`, and takes
// the device's lock file into `lock` (the one other programs take for it,
// where the platform has one); Present when the line is open, otherwise why
// it is not (and nothing is left open or locked). On Linux a killed
// program's exclusive mode is cleared first, where it may be.
PortState openHeld(SerialLine &line, std::unique_ptr<QLockFile> &lock, const QString &device,
                   const SerialSettings &settings);
