#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

// The pictures' meters: the bundled meter emulator, each on its own
// pseudo-terminal, and an upgrade file for them.
namespace SampleMeters {

// An emulated meter, stopped when it goes out of scope.
class Meter {
public:
    Meter(const QString &emulator, const QStringList &arguments);
    ~Meter();
    Meter(const Meter &) = delete;
    Meter &operator=(const Meter &) = delete;
    // The device path the emulator printed; empty when it did not start.
    QString device() const { return device_; }

private:
    QProcess process_;
    QString device_;
};

// Writes an Intel HEX file of `dataBytes` bytes (a fixed pattern, so the
// pictures come out the same on every build) to `path`; false on failure.
bool writeUpgradeFile(const QString &path, int dataBytes);

// The emulator's options for a meter of `model` with serial number
// OV<model><number> and firmware version `firmware`.
QStringList identity(const QString &model, const QString &number, const QString &firmware);

} // namespace SampleMeters
