#include "WireFaults.h"

namespace {
constexpr int kBitsPerByte = 8;
constexpr std::uint64_t kSentStream = 0x9E3779B97F4A7C15ULL;  // keeps the two directions apart
}

WireFaults::WireFaults(double bitErrorRate, int dropReplyEvery, std::uint64_t seed)
    : rate_(bitErrorRate), dropEvery_(dropReplyEvery)
{
    rx_.rng.seed(seed);
    tx_.rng.seed(seed ^ kSentStream);
    if (rate_ > 0) {
        rx_.bitsToNextFlip = nextGap(rx_);
        tx_.bitsToNextFlip = nextGap(tx_);
    }
}

long long WireFaults::nextGap(Direction &d)
{
    // Bits that pass unharmed before the next flipped one.
    std::geometric_distribution<long long> gap(rate_ >= 1 ? 1.0 : rate_);
    return gap(d.rng);
}

std::size_t WireFaults::corrupt(Direction &d, std::uint8_t *data, std::size_t n)
{
    if (d.bitsToNextFlip < 0)
        return 0;
    std::size_t flipped = 0;
    long long bit = d.bitsToNextFlip;
    const long long total = static_cast<long long>(n) * kBitsPerByte;
    while (bit < total) {
        data[bit / kBitsPerByte] ^= static_cast<std::uint8_t>(1U << (bit % kBitsPerByte));
        ++flipped;
        bit += 1 + nextGap(d);
    }
    d.bitsToNextFlip = bit - total;
    return flipped;
}

std::size_t WireFaults::corruptSent(std::string &text)
{
    return corrupt(tx_, reinterpret_cast<std::uint8_t *>(text.data()), text.size());
}

bool WireFaults::dropsReply()
{
    if (dropEvery_ <= 0)
        return false;
    return ++replies_ % dropEvery_ == 0;
}
