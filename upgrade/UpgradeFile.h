#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>

namespace FileAccess {
class PrivateCopy;
}

// An upgrade file: Intel HEX text (named as UpgradeFileName.h says), read one
// line at a time for the transfer. The lines are never
// interpreted; they go to the meter exactly as read.
//
// Lines end at a carriage return, a carriage return and line feed, or a line
// feed alone; a terminator at the very end of the file makes no extra empty
// line, and a last line without one still counts. The file is streamed: only
// the line being read is held in memory, and never more than kLongestLineChars
// of it (a longer line is cut there and said to be too long).
class UpgradeFile {
public:
    static inline const QByteArray kEndRecord = QByteArrayLiteral(":00000001FF");
    // Longer than any record (521 characters for 255 data bytes) with room
    // for the blanks a faulty line may carry, so its fault can be named.
    static constexpr qsizetype kLongestLineChars = 1024;

    enum class LineEnd { None, CarriageReturn, LineFeed, CarriageReturnLineFeed };
    static int lineEndChars(LineEnd end);

    // Whether two version texts name the same version: "02.11" and " 2.11"
    // do, each dotted part compared as a number.
    static bool sameVersion(const QString &a, const QString &b);
    // A version as the meter writes it, for people: "02.11" and " 2.11" are
    // "2.11". A text that is no version is only trimmed.
    static QString asMeterWrites(const QString &version);
    // Whether a line read contains the end-of-file record (in any case).
    static bool isEndRecord(const QByteArray &line);

    UpgradeFile() = default;
    UpgradeFile(const UpgradeFile &) = delete;
    UpgradeFile &operator=(const UpgradeFile &) = delete;

    // Opens for reading; throws FwUpError (not found, access denied) on failure.
    void open(const QString &path);
    // Opens a reader of a private copy, from its first byte.
    void openCopy(const FileAccess::PrivateCopy &copy);
    bool isOpen() const { return file_.isOpen(); }
    qint64 size() const { return size_; }  // in bytes, as found when opened
    // No further line can be read. Throws FileNotOpen once closed.
    bool atEnd();
    // The next line without its terminator. Throws FileNotOpen once closed,
    // FileIoError when the read fails.
    QByteArray readLine();
    // How the line last read ended, and whether it was cut for its length.
    LineEnd lastLineEnd() const { return lastEnd_; }
    bool lastLineTooLong() const { return tooLong_; }
    void close();

private:
    void requireOpen() const;
    bool fill();  // false at the end of the file
    char peek();

    QFile file_;
    qint64 size_ = 0;
    QByteArray buffer_;
    qsizetype pos_ = 0;
    LineEnd lastEnd_ = LineEnd::None;
    bool tooLong_ = false;
};
