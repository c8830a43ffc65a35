#pragma once
#include "upgrade/HexRecord.h"
#include "upgrade/UpgradeFile.h"
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <cstdint>

// The whole upgrade file judged line by line, as the transfer reads it: every
// line a valid record, the end-of-file record once and last, and no address
// written twice (extended segment and linear address records move the base).
class HexFileChecker {
public:
    struct Range {
        std::uint64_t first;  // inclusive
        std::uint64_t end;    // exclusive
    };

    // Judges the next line, read with the given terminator; returns the
    // fault, or an empty string.
    QString feed(const QByteArray &line, UpgradeFile::LineEnd end = UpgradeFile::LineEnd::CarriageReturnLineFeed);
    // After the last line: the fault of the file as a whole, or empty.
    QString finish() const;

    qint64 lines() const { return lines_; }
    qint64 dataBytes() const { return dataBytes_; }
    QList<Range> ranges() const;

private:
    QString addData(std::uint64_t first, std::uint64_t end);

    qint64 lines_ = 0;
    qint64 dataBytes_ = 0;
    bool endSeen_ = false;
    UpgradeFile::LineEnd previousEnd_ = UpgradeFile::LineEnd::None;
    std::uint64_t base_ = 0;
    bool segmentMode_ = false;  // base from a 02 record: offsets wrap within 64 KiB
    QMap<std::uint64_t, std::uint64_t> written_;  // first -> end, merged
};

// What the check found in a file: the window, `ovfw check` and `ovfw upgrade`
// all judge by this.
struct FileCheckReport {
    bool ok = false;
    bool opened = false;
    QString openError;   // the file could not be read: "NUMBER: TEXT"
    int openErrorNumber = 0;
    QString openErrorText;
    bool lineTooLong = false;  // reading stopped at a line no record can be
    qint64 faultLine = 0;
    QByteArray faultText;
    QString fault;
    qint64 lines = 0;
    qint64 dataBytes = 0;
    QList<HexFileChecker::Range> ranges;
};
