#include "upgrade/HexRecord.h"
#include "base/Escaped.h"
#include "upgrade/UpgradeFile.h"

namespace HexRecord {

namespace {
constexpr int kHeaderBytes = 4;   // count, offset high, offset low, type
constexpr int kChecksumBytes = 1;
constexpr int kMinimumBytes = kHeaderBytes + kChecksumBytes;
constexpr int kShownChars = 80;   // longer lines are cut in messages

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The data length each non-data type must have; -1 for any.
int requiredDataBytes(int type)
{
    switch (type) {
    case EndOfFile: return 0;
    case ExtendedSegmentAddress:
    case ExtendedLinearAddress: return 2;
    case StartSegmentAddress:
    case StartLinearAddress: return 4;
    default: return -1;
    }
}

QString hex2(unsigned value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

Record faulty(const QString &fault)
{
    Record r;
    r.fault = fault;
    return r;
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
}

Record parse(const QByteArray &line)
{
    static const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");
    constexpr char kCtrlZ = 0x1A;
    if (line.isEmpty())
        return faulty(QStringLiteral("empty line"));
    if (line.startsWith(kByteOrderMark))
        return faulty(QStringLiteral("starts with a byte-order mark (the file was saved as UTF-8 with BOM)"));
    if (line.endsWith(kCtrlZ))
        return faulty(QStringLiteral("a Ctrl-Z end-of-file mark (left by an old DOS tool) - remove it"));
    if (isBlank(line.front()) || isBlank(line.back()))
        return faulty(QStringLiteral("blanks or tabs around the record"));
    if (line.at(0) != ':')
        return faulty(QStringLiteral("does not start with ':' - not an Intel HEX record"));
    QByteArray bytes;
    bytes.reserve((line.size() - 1) / 2);
    for (qsizetype i = 1; i < line.size(); ++i) {
        if (hexValue(line.at(i)) < 0)
            return faulty(QStringLiteral("character %1 (byte 0x%2) is not a hex digit")
                              .arg(i + 1)
                              .arg(hex2(static_cast<unsigned char>(line.at(i)))));
    }
    if ((line.size() - 1) % 2 != 0)
        return faulty(QStringLiteral("odd number of hex digits"));
    for (qsizetype i = 1; i < line.size(); i += 2)
        bytes.append(static_cast<char>(hexValue(line.at(i)) * 16 + hexValue(line.at(i + 1))));
    if (bytes.size() < kMinimumBytes)
        return faulty(QStringLiteral("too short for a record"));

    const auto byteAt = [&](qsizetype i) { return static_cast<unsigned char>(bytes.at(i)); };
    const int count = byteAt(0);
    if (bytes.size() != kMinimumBytes + count)
        return faulty(QStringLiteral("byte count says %1 data bytes, the line holds %2")
                          .arg(count)
                          .arg(bytes.size() - kMinimumBytes));
    unsigned sum = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        sum += byteAt(i);
    if ((sum & 0xFF) != 0) {
        const unsigned expected = (0x100 - ((sum - byteAt(bytes.size() - 1)) & 0xFF)) & 0xFF;
        return faulty(QStringLiteral("checksum is %1, should be %2")
                          .arg(hex2(byteAt(bytes.size() - 1)), hex2(expected)));
    }
    const int type = byteAt(3);
    constexpr int kFirstMultiTargetType = 0x0A, kLastMultiTargetType = 0x0E;
    if (type >= kFirstMultiTargetType && type <= kLastMultiTargetType)
        return faulty(QStringLiteral("record type %1 belongs to a multi-target (\"universal\") file, not to "
                                     "one meter's image - export the file for this meter alone")
                          .arg(hex2(type)));
    if (type > StartLinearAddress)
        return faulty(QStringLiteral("unknown record type %1 (Intel HEX has 00 to 05)").arg(hex2(type)));
    const int required = requiredDataBytes(type);
    if (required >= 0 && count != required)
        return faulty(QStringLiteral("record type %1 needs %2 data bytes, has %3")
                          .arg(hex2(type))
                          .arg(required)
                          .arg(count));
    if (type == EndOfFile && line.toUpper() != UpgradeFile::kEndRecord)
        return faulty(QStringLiteral("end-of-file record must read %1, or the transfer "
                                     "does not see the end")
                          .arg(QString::fromLatin1(UpgradeFile::kEndRecord)));

    Record r;
    r.valid = true;
    r.type = type;
    r.offset = static_cast<std::uint16_t>(byteAt(1) << 8 | byteAt(2));
    r.data = bytes.mid(kHeaderBytes, count);
    return r;
}

QString shown(const QByteArray &line)
{
    QString out = Escaped::bytes(line.left(kShownChars));
    if (line.size() > kShownChars)
        out += QStringLiteral("... (%1 characters)").arg(line.size());
    return out;
}

}
