#pragma once
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

// Checks Intel HEX records one line at a time, as a meter's boot loader does,
// and collects the data they carry.
class IntelHexImage {
public:
    enum class Outcome { Data, EndOfFile, Invalid };

    // One record without its line end, e.g. ":0300300002337A1E".
    Outcome accept(const std::string &record);

    // The image from its lowest to its highest address, gaps filled with 0xFF,
    // written a piece at a time: the span may be far larger than the data.
    bool writeBinary(std::FILE *f) const;
    // Only the bytes received, as Intel HEX (data and extended linear
    // address records, 16 bytes a line, CR LF, the end record last).
    bool writeHex(std::FILE *f) const;
    std::uint32_t lowestAddress() const { return bytes_.empty() ? 0 : bytes_.begin()->first; }

private:
    std::map<std::uint32_t, std::uint8_t> bytes_;
    std::uint32_t base_ = 0;  // from extended segment / linear address records
};
