#pragma once
#include "link/CommPort.h"
#include "link/PortMap.h"
#include "link/PortStatus.h"
#include <QSerialPort>
#include <memory>

struct termios;

// The serial-port control over a real QSerialPort. An open port holds its
// device exclusively, whatever name reached it: a second opener, another copy
// of this tool or another program, is refused as "in use".
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
    bool portOpen() const override { return serial_.isOpen(); }
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
    bool lowLatencyActive() const { return lowLatency_; }
    // How the last opening went: Present when it opened, otherwise why not.
    PortState openState() const override { return openState_; }
    const PortMap &portMap() const { return map_; }

private:
    void requireOpen() const;
    void onError(QSerialPort::SerialPortError error);
    bool requestLowLatency();
    // Characters in the driver: written and not yet sent (Output), or
    // received and not yet taken in (Input).
    enum class DriverQueue { Output, Input };
    qint64 driverQueued(DriverQueue queue) const;
    void closePort();

    PortMap map_;
    QSerialPort serial_;
    DeviceHold hold_;  // released after serial_ closes
    PortState openState_ = PortState::Present;
    int portNumber_ = 1;
    std::unique_ptr<termios> modes_;  // the driver's modes as last read or set; none: read them again
    QString namedDevice_;  // opened instead of portNumber_'s when set
    int inputLen_ = 0;  // 0 = everything waiting
    bool rts_ = false;
    bool lowLatency_ = false;
    bool waitsBlocked_ = false;
    int inputWakeChars_ = 1;
    qint64 inputAtOutput_ = 0;  // input waiting when the last output was given
    double wireFreeAt_ = 0;  // monotonic seconds: when the last output has left at the line's speed
};
