#pragma once
#include <cstdio>
#include <string>

// What the emulated meter's faults did, for a soak to tell the tool's faults
// from the line's. Written as "name value" lines.
struct FaultStats {
    long long bitsFlippedReceived = 0;
    long long bitsFlippedSent = 0;
    int repliesDropped = 0;
    int resets = 0;
    // Records accepted whose bytes differ from what the tool sent: the noise
    // changed them and their checksum still held.
    int letThrough = 0;
    // Of those, the ones in the image now being received (a restart clears it).
    int letThroughInImage = 0;

    void write(const std::string &path) const
    {
        if (path.empty())
            return;
        const std::string tmp = path + ".part";
        FILE *f = std::fopen(tmp.c_str(), "w");
        if (!f)
            return;
        std::fprintf(f,
                     "bits_flipped_received %lld\nbits_flipped_sent %lld\nreplies_dropped %d\nresets %d\n"
                     "let_through %d\nlet_through_in_image %d\n",
                     bitsFlippedReceived, bitsFlippedSent, repliesDropped, resets, letThrough, letThroughInImage);
        if (std::fclose(f) == 0)
            std::rename(tmp.c_str(), path.c_str());
    }
};
