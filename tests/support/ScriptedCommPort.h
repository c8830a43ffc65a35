#pragma once
#include "link/CommPort.h"
#include <QList>

// A serial port whose received bytes arrive on a script, for the few
// byte-exact cases the meter emulator cannot produce on demand. Bytes are
// delivered by timers, so waits see them arrive as from a real line.
class ScriptedCommPort : public CommPort {
    Q_OBJECT
public:
    // `bytes` arrive `afterMs` milliseconds from now (0: at the next event-loop pass).
    void arrive(int afterMs, const QByteArray &bytes);
    // Already waiting, unread, when the test starts.
    void preload(const QByteArray &bytes) { buffer_ += bytes; }

    void setCommPort(int n) override { port_ = n; }
    int commPort() const override { return port_; }
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
    bool waitForInput(int) override { return !buffer_.isEmpty(); }

    QByteArray written;

private:
    void requireOpen() const;
    QByteArray buffer_;
    int port_ = 1;
    bool open_ = true;
};
