#pragma once
#include "history/AttemptRecord.h"
#include <QJsonObject>
#include <QList>
#include <memory>

class LocalTimes;

// The rows of `ovfw history` as a table, JSON objects or CSV; times in local
// time.
namespace HistoryTable {
// `failedOnly`: the rows are --failed's, and none says so.
QString table(const QList<AttemptRecord> &rows, bool failedOnly = false);
// CSV's header line, CRLF-ended.
QString csvHeader();

// Rows one at a time, so that a long history streams; one writer serves a
// whole listing and keeps what it learnt of the local zone.
class Writer {
public:
    Writer();
    ~Writer();
    QJsonObject json(const AttemptRecord &row);
    // The row as a CRLF-ended CSV line, appended.
    void appendCsvRow(QString &out, const AttemptRecord &row);

private:
    std::unique_ptr<LocalTimes> times_;
};

// A stored UTC time in local time, ISO 8601 with its offset.
QString localIso(const QString &utc);
}
