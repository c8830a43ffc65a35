#pragma once
#include "link/CommPort.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include "link/SerialLine.h"
#include <QByteArray>
#include <memory>

class QLockFile;
class LineWatch;

// The serial-port control over the platform's serial line. An open port
// holds its device exclusively, whatever name reached it: a second opener,
// another copy of this tool or another program, is refused as "in use".
// What the line brings is taken into the port's own buffer: by the event
// loop on the window's thread, by the waits themselves on a thread that
// serves nothing else.
class QtCommPort : public CommPort {
    Q_OBJECT
public:
    explicit QtCommPort(PortMap map, QObject *parent = nullptr);
    ~QtCommPort() override;

    void setCommPort(int portNumber) override;
    int commPort() const override { return portNumber_; }
    void setCommDevice(const QString &path) override;
    QString deviceName() const override { return namedDevice_.isEmpty() ? map_.deviceFor(portNumber_) : namedDevice_; }
    void setSettings(const QString &settings) override;
    void setInBufferSize(int bytes) override;
    void setHandshaking(int mode) override;
    void setInputLen(int chars) override;
    void setPortOpen(bool open) override;
    bool portOpen() const override { return line_->isOpen(); }
    void setRTSEnable(bool enable) override;
    void output(const QByteArray &bytes) override;
    int inBufferCount() override;
    QByteArray input() override;
    QByteArray inputThrough(char end) override;
    bool waitForInput(int milliseconds) override;
    void waitForWritten(int milliseconds) override;
    double characterSeconds() const override;
    double outputLeavesAt() const override { return wireFreeAt_; }
    void setInputWakeChars(int chars) override;
    void waitForInputUntil(double deadline) override;
    void yieldOnce() override;
    void restUntil(double deadline) override;
    // A thread that serves nothing but its meter (each of ovfw's) waits for
    // input blocked in the driver, without an event loop of its own for
    // every wait; the window's thread serves its events while it waits.
    void setWaitsBlocked(bool blocked) { waitsBlocked_ = blocked; }

    // Whether the driver accepted low-latency mode at the last opening (a
    // USB-serial adapter otherwise holds short replies for up to 16 ms).
    bool lowLatencyActive() const { return line_->isOpen() && line_->lowLatency(); }
    // How the last opening went: Present when it opened, otherwise why not.
    PortState openState() const override { return openState_; }
    const PortMap &portMap() const { return map_; }

private:
    void requireOpen() const;
    // Takes in what the line has brought; a lost line closes the port.
    // Either way a wait is told to look again.
    void takeIn();
    void lineLost();
    void closePort();
    void applyInputWake();

    PortMap map_;
    std::unique_ptr<SerialLine> line_;
    SerialSettings settings_;
    QByteArray buffer_;  // taken in, not yet read
    std::unique_ptr<LineWatch> watch_;  // while open, unless the waits block
    std::unique_ptr<QLockFile> lock_;  // the device's lock file, while open
    PortState openState_ = PortState::Present;
    int portNumber_ = 1;
    QString namedDevice_;  // opened instead of portNumber_'s when set
    int inputLen_ = 0;  // 0 = everything waiting
    bool rts_ = false;
    bool waitsBlocked_ = false;
    int inputWakeChars_ = 1;   // asked for
    int lineWakeChars_ = 1;    // what the line has
    bool wakeCharsHeld_ = false;  // whether the line can wait for a count at all
    qint64 inputAtOutput_ = 0;  // input waiting when the last output was given
    double wireFreeAt_ = 0;  // monotonic seconds: when the last output has left at the line's speed
};
