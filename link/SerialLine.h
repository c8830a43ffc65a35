#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// How a line is set up: speed, character frame, flow control and the modem
// lines the meter's adapter powers its interface from.
struct SerialSettings {
    enum class Parity { None, Even, Odd, Mark, Space };
    enum class Flow { None, XonXoff, RtsCts };
    int baud = 9600;
    int dataBits = 8;
    Parity parity = Parity::None;
    int stopBits = 1;  // 1 or 2
    Flow flow = Flow::None;
    bool dtr = true;
    bool rts = true;  // unless RTS/CTS flow control drives it
};

// One serial line, as the meter link uses it, and no more: open a device
// exclusively with its settings; write; read what has come; wait until
// something can be read, until a time is up, or until another thread stops
// the wait; drain what was written; purge what came in; close. Plain C++, so
// that each platform's implementation stands on its own: one file per
// platform, made by forThisPlatform().
class SerialLine {
public:
    enum class Opened {
        Yes,
        Missing,       // nothing by that name
        InUse,         // another opener holds it
        NoPermission,  // this user may not open it
        NotSerial,     // it is there, but is no serial device
        Failed,        // a serial device that refused to open or to take the settings
    };
    enum class Waited {
        Readable,  // something has come
        TimeUp,
        Stopped,   // stop() was called
        Lost,      // the device went away or the far end hung up; the line is closed
    };

    virtual ~SerialLine() = default;
    SerialLine() = default;
    SerialLine(const SerialLine &) = delete;
    SerialLine &operator=(const SerialLine &) = delete;

    // "/dev/ttyUSB0" or "COM3" (a bare COMn is reached as \\.\COMn). Whatever
    // reached the driver before the opening is purged.
    virtual Opened open(const std::string &device, const SerialSettings &settings) = 0;
    virtual bool isOpen() const = 0;
    virtual void close() = 0;
    // Queues all of `size` bytes for sending; false when the line is lost.
    virtual bool write(const char *data, std::size_t size) = 0;
    // What has come, up to `most` bytes, without waiting: 0 when nothing, -1
    // when the line is lost (and so closed).
    virtual long read(char *into, std::size_t most) = 0;
    // Blocks until something can be read, `milliseconds` pass (negative:
    // no limit), or stop() is called from another thread.
    virtual Waited waitReadable(int milliseconds) = 0;
    // Ends the wait under way, or the next one if none is; safe from any thread.
    virtual void stop() = 0;
    // Blocks until what was written has left the driver; false when lost.
    virtual bool drain() = 0;
    // Drops whatever has come and was not read.
    virtual void purgeInput() = 0;

    // Bytes that have come and not been read; bytes written and not yet sent.
    virtual long inputQueued() = 0;
    virtual long outputQueued() = 0;
    // Sets the RTS line while open (a line without modem lines ignores it).
    virtual void setRts(bool on) = 0;
    // From now on a wait ends only once `chars` bytes have come (or its time
    // is up), so that an answer on its way costs one wake, not one per byte.
    // False where the platform cannot: there every byte ends a wait.
    virtual bool setWakeChars(int chars) = 0;
    // What an event loop can watch for input while open: on POSIX the
    // descriptor, readable once a wait would end; on Windows the event a
    // waiting read signals, armed by a waitReadable(0). -1 when closed.
    virtual std::intptr_t readyHandle() const = 0;
    // Whether the driver took the request for low latency at the opening
    // (a USB adapter otherwise holds short replies back for up to 16 ms).
    virtual bool lowLatency() const = 0;

    static std::unique_ptr<SerialLine> forThisPlatform();
};
