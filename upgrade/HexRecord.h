#pragma once
#include <QByteArray>
#include <QString>
#include <cstdint>

// One line of an Intel HEX upgrade file, judged on its own: a colon, pairs of
// hex digits, a byte count that matches, a known record type with the length
// that type needs, and a checksum that makes the bytes sum to zero. Pure: no
// state, no I/O, any bytes in.
namespace HexRecord {

enum Type : int {
    Data = 0x00,
    EndOfFile = 0x01,
    ExtendedSegmentAddress = 0x02,
    StartSegmentAddress = 0x03,
    ExtendedLinearAddress = 0x04,
    StartLinearAddress = 0x05,
};

struct Record {
    bool valid = false;
    QString fault;        // what is wrong, when not valid
    int type = -1;
    std::uint16_t offset = 0;  // the record's 16-bit load offset
    QByteArray data;      // the data field, decoded
};


Record parse(const QByteArray &line);

// A line fit to show in a message: printable, cut when very long.
QString shown(const QByteArray &line);

}
