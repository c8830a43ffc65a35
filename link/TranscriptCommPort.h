#pragma once
#include "link/CommPort.h"
#include <QByteArray>
#include <QString>
#include <cstdio>

// Wraps the real port of one meter. With a transcript file it records every
// byte each way with the time since the meter's run began, and the notes the
// command line adds (retries, decisions), flushed as they happen.
class TranscriptCommPort : public CommPort {
public:
    explicit TranscriptCommPort(CommPort &inner);
    ~TranscriptCommPort() override;

    // Starts the transcript at `path`, a file that is not there yet; false
    // when it is there or cannot be written.
    bool openTranscript(const QString &path);
    // Gives the transcript a new name (once the meter's serial is known),
    // never one that is taken; false when it keeps its old name.
    bool renameTranscript(const QString &path);
    QString transcriptPath() const { return path_; }
    void note(const QString &text);

    void setCommPort(int portNumber) override { inner_.setCommPort(portNumber); }
    int commPort() const override { return inner_.commPort(); }
    void setCommDevice(const QString &path) override { inner_.setCommDevice(path); }
    QString deviceName() const override { return inner_.deviceName(); }
    void setSettings(const QString &settings) override { inner_.setSettings(settings); }
    void setInBufferSize(int bytes) override { inner_.setInBufferSize(bytes); }
    void setHandshaking(int mode) override { inner_.setHandshaking(mode); }
    void setInputLen(int chars) override { inner_.setInputLen(chars); }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return inner_.portOpen(); }
    void setRTSEnable(bool enable) override { inner_.setRTSEnable(enable); }
    void output(const QByteArray &bytes) override;
    int inBufferCount() override { return inner_.inBufferCount(); }
    QByteArray input() override;
    QByteArray inputThrough(char end) override;
    bool waitForInput(int milliseconds) override { return inner_.waitForInput(milliseconds); }
    PortState openState() const override { return inner_.openState(); }
    void waitForWritten(int milliseconds) override { inner_.waitForWritten(milliseconds); }
    double characterSeconds() const override { return inner_.characterSeconds(); }
    double outputLeavesAt() const override { return inner_.outputLeavesAt(); }
    void setInputWakeChars(int chars) override { inner_.setInputWakeChars(chars); }
    void waitForInputUntil(double deadline) override { inner_.waitForInputUntil(deadline); }
    void yieldOnce() override { inner_.yieldOnce(); }
    void restUntil(double deadline) override { inner_.restUntil(deadline); }

private:
    void writeLine(const char *direction, const QByteArray &bytes, double at);
    void flushReceived();
    QByteArray recorded(QByteArray got);
    double elapsed() const;

    CommPort &inner_;
    std::FILE *file_ = nullptr;
    QString path_;
    double start_;
    QByteArray received_;  // bytes from the meter not yet written, up to a CR
    double receivedAt_ = 0;
};
