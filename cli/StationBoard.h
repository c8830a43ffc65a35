#pragma once
#include "cli/MeterBoard.h"
#include <QJsonObject>
#include <QMap>
#include <QMutex>
#include <QString>

struct StationProfile;

// What a station shows: its name, the profile's models and versions, the
// counts since it started, and one line per socket.
class StationBoard {
public:
    explicit StationBoard(const StationProfile &profile);

    // A meter's end, from any job's thread.
    void count(const MeterStatus &done);
    // The counts since start, as "upgraded 2, current 1, failed 0, not touched 1".
    QString counters() const;
    // The same counts, by name, for JSON.
    QJsonObject counts() const;
    bool anyFailed() const;
    // A stop cut an upgrade short (not a meter merely left untouched).
    bool anyInterrupted() const;
    QList<MeterStatus> finished() const;

    // The heading: station, models, counters.
    QStringList heading() const;
    // A socket's line: its name, the meter's serial, its state.
    static QString socketLine(const QString &socket, const MeterStatus *meter, double now);

private:
    const StationProfile &profile_;
    mutable QMutex mutex_;
    int upgraded_ = 0, current_ = 0, failed_ = 0, notTouched_ = 0, interrupted_ = 0;
    QList<MeterStatus> finished_;
};
