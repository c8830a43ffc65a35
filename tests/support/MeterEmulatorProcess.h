#pragma once
#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// The meter emulator as a separate process on its own pseudo-terminal.
class MeterEmulatorProcess {
public:
    struct Burst {
        double seconds;   // since the emulator started
        bool toMeter;     // rx at the meter
        QByteArray bytes;
    };

    explicit MeterEmulatorProcess(const QStringList &arguments = {});
    ~MeterEmulatorProcess();

    bool started() const { return !device_.isEmpty(); }
    QString device() const { return device_; }
    QString imagePath() const { return dir_.filePath(QStringLiteral("image.bin")); }
    QList<Burst> wire() const;
    // The wire log as messages, each ending at its carriage return.
    QList<Burst> wireMessages() const;
    // What the meter received and what it sent, every byte in order.
    QByteArray received() const { return bytes(true); }
    QByteArray sent() const { return bytes(false); }
    // The messages the meter received, with their times, or their bytes alone.
    QList<Burst> receivedMessages() const;
    QList<QByteArray> receivedMessageBytes() const;
    // This meter as port n in OVFW_PORTS form ("n=/dev/pts/4").
    QString portEntry(int n = 1) const { return QStringLiteral("%1=%2").arg(n).arg(device_); }
    void stop();
    QProcess &process() { return process_; }

private:
    QByteArray bytes(bool toMeter) const;
    QTemporaryDir dir_;
    QProcess process_;
    QString device_;
};

// A second program holding a serial device open through QSerialPort, as
// another terminal program would.
class PortHolderProcess {
public:
    explicit PortHolderProcess(const QString &device);
    ~PortHolderProcess();
    bool holding() const { return holding_; }

private:
    QProcess process_;
    bool holding_ = false;
};
