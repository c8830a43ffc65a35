#include "IntelHexImage.h"
#include <vector>

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

constexpr std::size_t kHeaderBytes = 4;  // count, address high, address low, type
enum RecordType : std::uint8_t {
    kData = 0, kEndOfFile = 1, kExtendedSegment = 2, kStartSegment = 3,
    kExtendedLinear = 4, kStartLinear = 5
};

} // namespace

IntelHexImage::Outcome IntelHexImage::accept(const std::string &record)
{
    if (record.size() < 11 || record[0] != ':' || (record.size() - 1) % 2 != 0)
        return Outcome::Invalid;
    std::vector<std::uint8_t> raw;
    for (std::size_t i = 1; i < record.size(); i += 2) {
        const int hi = hexDigit(record[i]), lo = hexDigit(record[i + 1]);
        if (hi < 0 || lo < 0)
            return Outcome::Invalid;
        raw.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    const std::size_t count = raw[0];
    if (raw.size() != kHeaderBytes + count + 1)
        return Outcome::Invalid;
    std::uint8_t sum = 0;
    for (std::uint8_t b : raw)
        sum = static_cast<std::uint8_t>(sum + b);
    if (sum != 0)
        return Outcome::Invalid;
    const std::uint32_t offset = (raw[1] << 8) | raw[2];
    const std::uint8_t *data = raw.data() + kHeaderBytes;
    switch (raw[3]) {
    case kData:
        for (std::size_t i = 0; i < count; ++i)
            bytes_[base_ + offset + static_cast<std::uint32_t>(i)] = data[i];
        return Outcome::Data;
    case kEndOfFile:
        return count == 0 ? Outcome::EndOfFile : Outcome::Invalid;
    case kExtendedSegment:
        if (count != 2) return Outcome::Invalid;
        base_ = static_cast<std::uint32_t>((data[0] << 8) | data[1]) << 4;
        return Outcome::Data;
    case kExtendedLinear:
        if (count != 2) return Outcome::Invalid;
        base_ = static_cast<std::uint32_t>((data[0] << 8) | data[1]) << 16;
        return Outcome::Data;
    case kStartSegment:
    case kStartLinear:
        return count == 4 ? Outcome::Data : Outcome::Invalid;
    default:
        return Outcome::Invalid;
    }
}

bool IntelHexImage::writeBinary(std::FILE *f) const
{
    static const std::string kGap(4096, static_cast<char>(0xFF));
    bool first = true;
    std::uint32_t next = 0;  // the address the file has reached
    for (const auto &[address, value] : bytes_) {
        if (first) {
            next = address;
            first = false;
        }
        for (std::uint32_t gap = address - next; gap > 0;) {
            const std::size_t n = gap < kGap.size() ? gap : kGap.size();
            if (std::fwrite(kGap.data(), 1, n, f) != n)
                return false;
            gap -= static_cast<std::uint32_t>(n);
        }
        if (std::fputc(value, f) == EOF)
            return false;
        next = address + 1;
    }
    return true;
}

bool IntelHexImage::writeHex(std::FILE *f) const
{
    constexpr std::size_t kLineBytes = 16;
    auto record = [f](std::uint8_t type, std::uint16_t offset, const std::uint8_t *data, std::size_t n) {
        unsigned sum = static_cast<unsigned>(n) + (offset >> 8) + (offset & 0xFF) + type;
        std::fprintf(f, ":%02X%04X%02X", static_cast<unsigned>(n), offset, type);
        for (std::size_t i = 0; i < n; ++i) {
            std::fprintf(f, "%02X", data[i]);
            sum += data[i];
        }
        std::fprintf(f, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    };
    std::uint32_t upper = 0;
    bool haveUpper = false;
    auto it = bytes_.begin();
    while (it != bytes_.end()) {
        const std::uint32_t start = it->first;
        if (!haveUpper || (start >> 16) != upper) {
            upper = start >> 16;
            haveUpper = true;
            const std::uint8_t u[2] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)};
            record(kExtendedLinear, 0, u, 2);
        }
        std::uint8_t line[kLineBytes];
        std::size_t n = 0;
        // Consecutive bytes, within one 64 KiB page and one line.
        while (it != bytes_.end() && n < kLineBytes && it->first == start + n && (it->first >> 16) == upper) {
            line[n++] = it->second;
            ++it;
        }
        record(kData, static_cast<std::uint16_t>(start & 0xFFFF), line, n);
    }
    record(kEndOfFile, 0, nullptr, 0);
    return std::ferror(f) == 0;
}
