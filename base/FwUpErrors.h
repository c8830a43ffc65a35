#pragma once
#include <QString>
#include <stdexcept>

// Run-time errors raised by the serial port, the upgrade file and its dialog. Each has a
// stable number and description; the upgrade's error handler shows both.
enum class FwUpErrorNumber : int {
    CommPortNotOpen = 101,
    CommPortAlreadyOpen = 102,
    CommPortMissing = 103,
    CommPortOpenFailed = 104,
    CommPortInUse = 105,
    CommSettingsInvalid = 106,
    CommPortNumberInvalid = 107,
    FileNotOpen = 52,         // the upgrade file was closed under the transfer
    FileNotFound = 53,
    FileIoError = 57,         // a read failed part-way
    FileAccessDenied = 75,    // unreadable, or a folder
    DialogCancelled = 32755,  // the file dialog's Cancel: never reported
};

inline QString fwUpErrorDescription(FwUpErrorNumber n)
{
    switch (n) {
    case FwUpErrorNumber::CommPortNotOpen: return QStringLiteral("Operation valid only when the port is open");
    case FwUpErrorNumber::CommPortAlreadyOpen: return QStringLiteral("Port already open");
    case FwUpErrorNumber::CommPortMissing: return QStringLiteral("No such serial port");
    case FwUpErrorNumber::CommPortOpenFailed: return QStringLiteral("The serial port could not be opened");
    case FwUpErrorNumber::CommPortInUse: return QStringLiteral("Port in use or access denied");
    case FwUpErrorNumber::CommSettingsInvalid: return QStringLiteral("Invalid port settings");
    case FwUpErrorNumber::CommPortNumberInvalid: return QStringLiteral("Invalid port number");
    case FwUpErrorNumber::FileNotOpen: return QStringLiteral("Bad file name or number");
    case FwUpErrorNumber::FileNotFound: return QStringLiteral("File not found");
    case FwUpErrorNumber::FileIoError: return QStringLiteral("Device I/O error");
    case FwUpErrorNumber::FileAccessDenied: return QStringLiteral("Path/File access error");
    case FwUpErrorNumber::DialogCancelled: return QStringLiteral("Cancel was selected");
    }
    return QStringLiteral("Unknown error");
}

class FwUpError : public std::runtime_error {
public:
    explicit FwUpError(FwUpErrorNumber n)
        : std::runtime_error(fwUpErrorDescription(n).toStdString()), number_(n) {}
    FwUpErrorNumber number() const { return number_; }
    int code() const { return static_cast<int>(number_); }
    QString description() const { return fwUpErrorDescription(number_); }

private:
    FwUpErrorNumber number_;
};
