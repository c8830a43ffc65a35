// ovfw check's record checker on any line: a record it accepts must be one
// that re-encodes to the same line (upper or lower case hex), with the byte
// count it states and a checksum that sums to zero.
#include "upgrade/HexRecord.h"
#include <cstdint>
#include <cstdlib>

namespace {
QByteArray encode(const HexRecord::Record &r)
{
    QByteArray bytes;
    bytes += static_cast<char>(r.data.size());
    bytes += static_cast<char>(r.offset >> 8);
    bytes += static_cast<char>(r.offset & 0xFF);
    bytes += static_cast<char>(r.type);
    bytes += r.data;
    unsigned sum = 0;
    for (char c : bytes)
        sum += static_cast<unsigned char>(c);
    bytes += static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF);
    return ':' + bytes.toHex().toUpper();
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray line(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const HexRecord::Record r = HexRecord::parse(line);
    HexRecord::shown(line);
    if (r.valid == !r.fault.isEmpty())
        std::abort();
    if (r.valid && encode(r) != line.toUpper())
        std::abort();
    return 0;
}
