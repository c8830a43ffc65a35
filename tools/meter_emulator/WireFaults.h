#pragma once
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

// The faults of a bad line and of a meter that loses replies, drawn from a
// seeded generator so that a run can be repeated. Each direction has its own
// generator: what the meter receives does not change the noise on what it
// sends.
class WireFaults {
public:
    WireFaults(double bitErrorRate, int dropReplyEvery, std::uint64_t seed);

    // Flips each bit with the bit-error rate; returns how many were flipped.
    std::size_t corruptReceived(std::uint8_t *data, std::size_t n) { return corrupt(rx_, data, n); }
    std::size_t corruptSent(std::string &text);
    // Counts one acknowledgement; true when it is the one lost on its way.
    bool dropsReply();

private:
    struct Direction {
        std::mt19937_64 rng;
        long long bitsToNextFlip = -1;  // -1: no noise
    };
    std::size_t corrupt(Direction &d, std::uint8_t *data, std::size_t n);
    long long nextGap(Direction &d);

    double rate_;
    int dropEvery_;
    int replies_ = 0;
    Direction rx_, tx_;
};
