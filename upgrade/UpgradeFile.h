#pragma once
#include <QByteArray>
#include <QFile>
#include <QString>

// An upgrade file: Intel HEX text named "OV" + model code + "_FW" + version +
// ".OVH", read one line at a time for the transfer. The lines are never
// interpreted; they go to the meter exactly as read.
//
// Lines end at a carriage return or at a carriage return and line feed; a
// line feed alone does not end a line, and a terminator at the very end of
// the file makes no extra empty line. The file is streamed: only the line
// being read is held in memory.
class UpgradeFile {
public:
    static inline const QString kDialogTitle = QStringLiteral("Select Upgrade File");
    static inline const QByteArray kEndRecord = QByteArrayLiteral(":00000001FF");

    // The file dialog's filter for a model code: one entry,
    // "Firmware Upgrade Files (*.OVH)|OV<model>_FW*.OVH".
    static QString dialogFilter(const QString &modelCode);
    // The version text the name stands for, taken by position: 12.04 from
    // ...OV3_FW1204.OVH, " 2.04" from ...OV3_FW204.OVH.
    static QString versionText(const QString &path);
    // Whether a line read contains the end-of-file record (exact case).
    static bool isEndRecord(const QByteArray &line);

    UpgradeFile() = default;
    UpgradeFile(const UpgradeFile &) = delete;
    UpgradeFile &operator=(const UpgradeFile &) = delete;

    // Opens for reading; throws FwUpError (not found, access denied) on failure.
    void open(const QString &path);
    bool isOpen() const { return file_.isOpen(); }
    qint64 size() const { return size_; }  // in bytes, as found when opened
    // No further line can be read. Throws FileNotOpen once closed.
    bool atEnd();
    // The next line without its terminator. Throws FileNotOpen once closed,
    // FileIoError when the read fails.
    QByteArray readLine();
    void close();

private:
    void requireOpen() const;
    bool fill();  // false at the end of the file
    char peek();

    QFile file_;
    qint64 size_ = 0;
    QByteArray buffer_;
    qsizetype pos_ = 0;
};
