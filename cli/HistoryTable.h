#pragma once
#include "history/AttemptRecord.h"
#include <QJsonObject>
#include <QList>

// The rows of `ovfw history` as a table, JSON objects or CSV; times in local
// time.
namespace HistoryTable {
// `failedOnly`: the rows are --failed's, and none says so.
QString table(const QList<AttemptRecord> &rows, bool failedOnly = false);
QJsonObject json(const AttemptRecord &row);
// CSV, a row at a time so that a long history streams: the header, then
// each row, CRLF-ended.
QString csvHeader();
QString csvRow(const AttemptRecord &row);
// A stored UTC time in local time, ISO 8601 with its offset.
QString localIso(const QString &utc);
}
