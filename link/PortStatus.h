#pragma once
#include <QString>
#include <memory>

class QLockFile;

class SerialLine;
struct SerialSettings;

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

// The device a port name reaches: a bare name is taken under /dev, as
// serial tools do, and symbolic links are followed (a /dev/serial/by-id
// name reaches /dev/ttyUSB0). Empty when nothing is there.
QString resolvedDevicePath(const QString &device);

// Opens the device as the tool does and lets go again.
PortState portState(const QString &device);

// The hold that keeps every other opener off a device, whatever name reaches
// it: a descriptor of its own on the resolved device, carrying an exclusive
// flock (binding on root as well) for as long as the port is open.
class DeviceHold {
public:
    DeviceHold() = default;
    ~DeviceHold() { release(); }
    DeviceHold(const DeviceHold &) = delete;
    DeviceHold &operator=(const DeviceHold &) = delete;

    // Opens the device at a resolved path and takes the hold; Present when
    // held, otherwise why not. The driver's exclusive mode left behind by a
    // program that was killed is cleared when this user may open the device
    // past it, nobody holds its file lock and its lock file names a process
    // that has ended; in any other case the device is not taken.
    PortState take(const QString &path);
    // The driver's exclusive mode, set once the port itself is open: other
    // programs then cannot open the device at all, root excepted.
    void excludeOthers();
    void release();

private:
    int fd_ = -1;
};

// Opens `device` on `line` at its resolved path with `settings`, and takes
// the device's lock file into `lock` (the one other programs take for it);
// Present when the line is open, otherwise why it is not (and nothing is
// left open or locked). A killed program's exclusive mode is cleared first,
// where it may be (DeviceHold).
PortState openHeld(SerialLine &line, std::unique_ptr<QLockFile> &lock, const QString &device,
                   const SerialSettings &settings);
