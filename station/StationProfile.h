#pragma once
#include "upgrade/TransferPolicy.h"
#include <QList>
#include <QMap>
#include <QString>
#include <memory>

class UpgradeImage;

// One model's firmware as a station's profile pins it: the file, read and
// checked once when the profile is read, the digest it must have, the
// version a meter must report after it, and the repeats a line may take.
struct StationFirmware {
    QString model;
    QString filePath;  // absolute
    QString sha256;
    QString version;   // as the profile gives it, else from the file name
    int retries = TransferPolicy::kUnattendedRetries;
    std::shared_ptr<const UpgradeImage> checked;
};

// A socket named in the profile, with the device it stands for.
struct StationSocket {
    QString name;
    QString device;
};

// What a station is set up with. Either its sockets are the links in a
// watched folder, each named by its file name, or they are listed.
struct StationProfile {
    QString path;    // absolute
    QString sha256;  // of the profile file's bytes
    QString name;    // the station's; the host name by default
    QString watch;   // a folder of device links; empty when sockets are listed
    double settleSeconds = 0.5;  // after a device appears, before it is opened
    QList<StationSocket> sockets;
    QMap<QString, StationFirmware> firmware;  // by model
    QString recordsServer;  // [records] server; empty: none
};

// Why a profile was refused, and where: line and column from 1, or 0 when
// the problem has no place in the text (a file that cannot be read).
struct ProfileProblem {
    enum class Kind {
        Unreadable,     // the profile file itself
        Syntax,         // not TOML
        UnknownKey,
        WrongType,      // a value of the wrong type or range
        Missing,        // a required key
        SocketsTwice,   // watch and [sockets] together, or neither
        Digest,         // missing, malformed or not the file's
        FileRefused,    // missing, unreadable, or fails its check
        ModelMismatch,  // the file name's model is not its key
        VersionMismatch,
        SameDevice,     // two sockets reach one device
    };
    Kind kind;
    QString text;
    int line = 0;
    int column = 0;
};

struct ProfileReading {
    StationProfile profile;
    QList<ProfileProblem> problems;  // empty: the profile may be used
    bool ok() const { return problems.isEmpty(); }
};

namespace StationProfiles {
// Reads the profile at `path`, reads and checks each model's file once, and
// says everything that is wrong with it. `hostName` is the station's name
// when the profile gives none.
ProfileReading read(const QString &path, const QString &hostName);
}
