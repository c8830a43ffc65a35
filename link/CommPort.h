#pragma once
#include "base/FwUpErrors.h"
#include "link/PortStatus.h"
#include <QByteArray>
#include <QObject>
#include <QString>

// The serial-port control the tool drives: the operations of `Comm1`.
// Operations that need an open port throw FwUpError(CommPortNotOpen) on a
// closed one; opening throws when the port is missing, busy or refused.
class CommPort : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~CommPort() override = default;

    virtual void setCommPort(int portNumber) = 0;
    virtual int commPort() const = 0;
    // Instead of a numbered port, the device at `path` is what opening opens,
    // until setCommPort() names a number again. A port that reaches nothing
    // by path refuses it.
    virtual void setCommDevice(const QString &path)
    {
        Q_UNUSED(path);
        throw FwUpError(FwUpErrorNumber::CommPortNumberInvalid);
    }
    // The device the port opens (/dev/ttyUSB0, COM3, or the path given to
    // setCommDevice), open or not; empty when the number names none.
    virtual QString deviceName() const = 0;
    virtual void setSettings(const QString &settings) = 0;  // e.g. "9600,n,8,1"
    virtual void setInBufferSize(int bytes) = 0;
    virtual void setHandshaking(int mode) = 0;             // 0 = none
    virtual void setInputLen(int chars) = 0;               // chars per read of input()
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    virtual void setRTSEnable(bool enable) = 0;
    virtual void output(const QByteArray &bytes) = 0;
    virtual int inBufferCount() = 0;
    virtual QByteArray input() = 0;

    // How the last opening went: Present when the port opened, otherwise why
    // not, in the words `ovfw ports` uses. A port that cannot tell says only
    // that it failed.
    virtual PortState openState() const { return portOpen() ? PortState::Present : PortState::OpenFailed; }

    // Blocks the thread (no event loop) until input is waiting or the time is
    // up; for the few reads that must not yield to the window.
    virtual bool waitForInput(int milliseconds) = 0;

    // Serves events until what output() was given has left the port: the
    // driver's queue is empty and the characters have had their time on the
    // wire at the port's speed. Returns sooner when input arrives (the far
    // end has answered, so it has the line) or after `milliseconds`. A port
    // with no wire of its own has nothing to wait for.
    virtual void waitForWritten(int milliseconds) { Q_UNUSED(milliseconds); }

signals:
    // Received bytes are waiting, or the line was lost: a wait should look again.
    void inputArrived();
};
