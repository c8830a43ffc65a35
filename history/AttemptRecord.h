#pragma once
#include <QString>
#include <QtGlobal>
#include <optional>

// One upgrade attempt of one meter as the history keeps it. The first part is
// written before the meter is changed; the second when the attempt ends.
struct AttemptRecord {
    qint64 id = 0;
    // The attempt's identity wherever its row is copied, and how many times
    // the row has been made or changed in substance (made, finished,
    // verified; not the running count of lines). Set by the store.
    QString uuid;
    qint64 revision = 0;

    // Who and where: the writing process, so that a row never completed can be
    // told apart as still running or interrupted.
    QString startedUtc;  // ISO 8601, UTC, milliseconds
    QString host;
    QString user;
    QString face;  // "window" or "ovfw"
    qint64 pid = 0;
    qint64 processStart = 0;  // the process's start, in clock ticks after boot
    QString bootId;

    // The meter as it was found.
    int port = 0;        // 0 (stored as NULL): the meter was named by its device
    QString device;      // as the port map or --device named it
    QString realDevice;  // the device that name reached, links resolved
    QString usbSerial;   // the USB adapter's serial number, where it has one
    QString serial;
    QString model;
    QString bootVersion;
    QString firmwareVersion;
    bool foundInBootLoader = false;

    // The file.
    QString filePath;
    qint64 fileSize = -1;
    QString fileSha256;
    QString targetVersion;

    // A station's meter: the station, who ran it, the socket, and the
    // digest of the profile that pinned the file. Empty elsewhere.
    QString station;
    QString operatorName;
    QString socket;
    QString profileSha256;

    // How it ended; `outcome` is empty until then.
    QString endedUtc;
    QString outcome;  // one of the HistoryOutcome names
    int errorNumber = 0;
    QString errorText;
    qint64 linesSent = 0;
    qint64 linesTotal = 0;
    int retries = 0;
    qint64 refusedLine = 0;
    // Whether the meter was left in its boot loader; nullopt when nobody
    // knows (a switch never acknowledged, an attempt never completed).
    std::optional<bool> leftInBootLoader = false;

    // After an upgrade, when asked: the version the restarted meter named
    // and whether it is the file's. `verified` is -1 when not asked.
    QString firmwareAfter;
    int verified = -1;
};

// The outcomes a row can end with. A row without one is "running" while its
// process lives and "interrupted" after.
namespace HistoryOutcome {
inline const QString Completed = QStringLiteral("completed");
inline const QString UnexpectedEnd = QStringLiteral("unexpected_end");  // refused line, or no end record
inline const QString NotSwitched = QStringLiteral("not_switched");
inline const QString Failed = QStringLiteral("failed");      // a run-time error, with its number
inline const QString Stopped = QStringLiteral("stopped");    // asked to stop between two lines
// The end record went unanswered and the meter did not then report the file's version.
inline const QString EndUnconfirmed = QStringLiteral("end_unconfirmed");
// The meter was reached but not touched.
inline const QString Declined = QStringLiteral("declined");  // the warning answered Cancel
inline const QString ModelMismatch = QStringLiteral("model_mismatch");
inline const QString ModelUnknown = QStringLiteral("model_unknown");  // a boot loader nobody identified
// A meter that answered, but never with a version reply that could be read.
inline const QString Unidentified = QStringLiteral("unidentified");
inline const QString FileRefused = QStringLiteral("file_refused");
// A station's meter that already runs the profile's version.
inline const QString Current = QStringLiteral("current");
// A station's meter of a model its profile has no file for.
inline const QString NoFirmware = QStringLiteral("no_firmware");
// The meter restarted mid-file; the next row is the file sent again from its start.
inline const QString Restarted = QStringLiteral("meter_restarted");
// Shown, never stored.
inline const QString Running = QStringLiteral("running");
inline const QString Interrupted = QStringLiteral("interrupted");
}
