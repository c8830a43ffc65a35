#pragma once
#include "EmulatorOptions.h"
#include "FaultStats.h"
#include "IntelHexImage.h"
#include "WireFaults.h"
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

// An orvane meter on the master side of a pseudo-terminal. Time is kept in
// seconds since start; bytes each way take one 9600-baud character time.
class MeterEmulator {
public:
    explicit MeterEmulator(EmulatorOptions options);
    ~MeterEmulator();

    // Creates the pseudo-terminal; returns the device path or "" with `error`.
    std::string openLine(std::string &error);
    // Serves the line until `stopFlag` becomes true or the line is hung up.
    void run(volatile bool &stopFlag);

private:
    struct Command {
        double at;
        std::string text;
        std::string sent;  // as the tool sent it, before the line's noise
    };
    struct TxByte {
        double at;
        std::uint8_t byte;
    };

    double now() const;
    void receive(const std::uint8_t *data, std::size_t n, double t);
    void handle(const Command &command);
    void handleNormal(const std::string &line, double at);
    void handleBoot(const Command &command);
    void restart(double at);
    void send(const std::string &text, double at, bool isReply = true);
    bool lineAtMeterSpeed();
    void writeDue(double t);
    void writeImage();
    void log(double t, const char *direction, const std::uint8_t *data, std::size_t n);
    double nextEventTime() const;

    EmulatorOptions o_;
    int master_ = -1;
    int slaveHold_ = -1;  // keeps the line up while the tool has the port closed
    FILE *log_ = nullptr;
    double start_ = 0;
    double byteSeconds_;

    std::string rxLine_;
    std::string rxSent_;
    double rxFreeAt_ = 0;
    std::deque<Command> commands_;
    std::deque<TxByte> tx_;
    double txFreeAt_ = 0;

    bool boot_;
    bool quiet_ = false;
    int quietCommands_ = 0;
    double nextChatterAt_ = 0;
    int recordsAccepted_ = 0;
    int refusals_ = 0;
    double hangupAt_ = -1;
    IntelHexImage image_;
    WireFaults faults_;
    FaultStats stats_;
    bool armed_ = true;       // a restarted boot loader takes records only after the upgrade-mode command
    bool restarted_ = false;  // --reset-at happens once
    bool wrongSpeedTold_ = false;
    double silentUntil_ = -1;
};
