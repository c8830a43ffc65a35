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
    void stop();
    QProcess &process() { return process_; }

private:
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
