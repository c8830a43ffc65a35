#pragma once
#include <QDateTime>
#include <QHash>
#include <QString>

// Stored UTC times ("2026-12-08T10:15:00.000Z") in local time. The zone's
// offset is asked of the system once per UTC day the times fall in, not once
// per time: a listing of many rows would otherwise look at the zone's file
// for each of them.
class LocalTimes {
public:
    QDateTime local(const QString &utc);
    // ISO 8601 with milliseconds and the offset; empty for an empty time.
    QString iso(const QString &utc);

private:
    static constexpr qint64 kBucketMs = 24LL * 60 * 60 * 1000;
    static constexpr int kUnsettled = 1 << 30;  // the offset changes during the day
    int offsetSecondsAt(qint64 utcMs);
    QHash<qint64, int> offsets_;
};
