#pragma once
#include "base/EventWait.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
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
    // Takes, in one read, what is waiting up to and including the first
    // `end` character, or all of it when none is `end`; the rest stays
    // waiting for the next read.
    virtual QByteArray inputThrough(char end) = 0;

    // How the last opening went: Present when the port opened, otherwise why
    // not, in the words `ovfw ports` uses. A port that cannot tell says only
    // that it failed.
    virtual PortState openState() const { return portOpen() ? PortState::Present : PortState::OpenFailed; }

    // Blocks the thread (no event loop) until input is waiting or the time is
    // up; for the few reads that must not yield to the window.
    virtual bool waitForInput(int milliseconds) = 0;

    // Serves events until what output() was given has left the port: the
    // driver's queue is empty and the characters have had their time on the
    // wire at the port's speed. Returns sooner when input has arrived since
    // that output (the far end has answered, so it has the line) or after `milliseconds`. A port
    // with no wire of its own has nothing to wait for.
    virtual void waitForWritten(int milliseconds) { Q_UNUSED(milliseconds); }

    // What the wire says of time: one character's time at the port's speed,
    // and when what output() was given will have left the port at that
    // speed (monotonic seconds). A port with no wire of its own takes no
    // time: 0, and now.
    virtual double characterSeconds() const { return 0; }
    virtual double outputLeavesAt() const { return MonotonicClock::now(); }

    // For the waits that follow: input wakes them only once `chars`
    // characters are waiting (1, the default: every character), so an
    // answer on its way costs one wake, not one per character. Reading is
    // not affected, and a wait still ends at its time. A port that cannot
    // tell wakes on every character.
    virtual void setInputWakeChars(int chars) { Q_UNUSED(chars); }

    // Serves the thread's pending events once, and with them takes in the
    // port's input waiting in the driver (once as many characters wait as
    // the wake count asks for). A port whose thread has nothing else to
    // serve only takes in its input.
    virtual void yieldOnce() { EventWait::yieldOnce(); }

    // Sleeps until `deadline` (monotonic seconds) without looking at the
    // port: what arrives meanwhile waits in the driver until the next wait or
    // yield. For the time in which an answer on a paced line cannot be whole
    // yet, so that its characters do not wake the thread one by one. Only a
    // port whose thread has nothing else to serve rests; any other returns
    // at once, and its waits listen as before.
    virtual void restUntil(double deadline) { Q_UNUSED(deadline); }

    // Waits until `deadline` (monotonic seconds), or sooner when input
    // arrives or the line is lost, serving the thread's events meanwhile.
    // A port whose thread has nothing else to serve may block instead.
    virtual void waitForInputUntil(double deadline)
    {
        EventWait::sleepUntil(deadline, this, &CommPort::inputArrived);
    }

signals:
    // Received bytes are waiting, or the line was lost: a wait should look again.
    void inputArrived();
};
