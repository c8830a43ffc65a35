#pragma once
#include <string>

// How the emulated meter behaves; every fault switch is off by default.
struct EmulatorOptions {
    std::string identity = "V,OV3A01234,1.02,2.10";
    bool chatter = false;
    int chatterIntervalMs = 150;
    int quietAfter = 1;       // quiet commands needed before the chatter stops
    bool neverQuiet = false;
    bool startInBoot = false;
    bool silent = false;
    int lateReplyMs = 0;      // extra delay before every reply
    bool garble = false;      // version reply corrupted on the line
    int refuseLine = 0;       // upgrade record number (1 = first) answered with FAIL
    int refuseCount = -1;     // how often; -1 = always
    int hangupAfter = 0;      // lines acknowledged before the line drops; 0 = never
    int replyDelayMs = 2;     // the meter's own processing time
    int switchDelayMs = 0;    // extra delay before acknowledging the switch to the boot loader
    int slowEvery = 0;        // every Nth upgrade record is answered late, as after a page erase
    int slowMs = 0;           // how late
    int commitDelayMs = 0;    // the end-of-file record is acknowledged after committing the image
    bool pacing = true;       // 9600 baud, 8N1: about 1.04 ms per byte each way
    double noiseRate = 0;     // bit-error rate on the line, both directions
    int resetAt = 0;          // upgrade record number at which the meter restarts, once
    int dropReplyEvery = 0;   // every Nth acknowledgement of a record is lost
    unsigned long long seed = 1;
    std::string statsPath;    // what the faults did, written at the end of each image and at exit
    std::string imagePath;
    std::string logPath;
    std::string linkPath;
    std::string restartInto;  // after the end record: normal mode, reporting this firmware version
    std::string swappedFor;   // ... as another meter, of this serial
};

// Parses argv; on --help or an error prints to stdout/stderr and returns false
// with `exitCode` set.
bool parseEmulatorOptions(int argc, char **argv, EmulatorOptions &options, int &exitCode);
