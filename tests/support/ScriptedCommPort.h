#pragma once
#include "link/CommPort.h"
#include <QList>
#include <deque>
#include <functional>

// A serial port whose received bytes arrive on a script, for the few
// byte-exact cases the meter emulator cannot produce on demand. Each burst
// becomes readable at its due time, whether or not an event loop runs: waits
// that serve events are woken by inputArrived, and waitForInput() sleeps the
// thread until the next burst is due, as a blocking read on a real line does.
class ScriptedCommPort : public CommPort {
    Q_OBJECT
public:
    // `bytes` arrive `afterMs` milliseconds from now (0: at once).
    void arrive(int afterMs, const QByteArray &bytes);
    // Already waiting, unread, when the test starts.
    void preload(const QByteArray &bytes) { buffer_ += bytes; }

    void setCommPort(int n) override { port_ = n; }
    int commPort() const override { return port_; }
    QString deviceName() const override { return device; }
    void setSettings(const QString &) override {}
    void setInBufferSize(int) override {}
    void setHandshaking(int) override {}
    void setInputLen(int) override {}
    void setPortOpen(bool open) override { open_ = open; }
    bool portOpen() const override { return open_; }
    void setRTSEnable(bool) override {}
    void output(const QByteArray &bytes) override;
    int inBufferCount() override;
    QByteArray input() override;
    QByteArray inputThrough(char end) override;
    bool waitForInput(int milliseconds) override;

    QByteArray written;
    QString device;  // the device it says it is
    // When set, answers every write at once, as a prompt meter would.
    std::function<QByteArray(const QByteArray &written)> replyTo;

private:
    struct Burst {
        double due;  // monotonic seconds
        QByteArray bytes;
    };
    void requireOpen() const;
    void deliverDue();
    void deliverAt(double due);
    std::deque<Burst> pending_;  // in order of arrival
    QByteArray buffer_;
    int port_ = 1;
    bool open_ = true;
};
