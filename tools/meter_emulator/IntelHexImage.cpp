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

std::string IntelHexImage::flatten() const
{
    if (bytes_.empty())
        return {};
    const std::uint32_t low = bytes_.begin()->first, high = bytes_.rbegin()->first;
    std::string image(high - low + 1, static_cast<char>(0xFF));
    for (const auto &[address, value] : bytes_)
        image[address - low] = static_cast<char>(value);
    return image;
}
