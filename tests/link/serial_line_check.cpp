// The platform's serial line against the meter emulator, as a separate
// program: built for Linux and run on the emulator's pseudo-terminal, and
// cross-built for Windows and run under Wine on a COM port that reaches it.
//   serial_line_check DEVICE
// Prints one line per check; exit status 0 when all passed. Last, it says
// "waiting for the line to go" and expects whoever runs it to end the
// emulator.
#include "link/SerialLine.h"
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kAnswerMs = 3000;
constexpr int kQuietMs = 300;
constexpr int kStopAfterMs = 100;
constexpr int kLossMs = 20000;
const std::string kIdentity = "V,OV3A01234,1.02,2.10\r";

int failures = 0;

void check(bool ok, const std::string &what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    failures += ok ? 0 : 1;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What comes within `ms`, up to and including the first carriage return.
std::string answer(SerialLine &line, int ms)
{
    std::string got;
    const auto start = Clock::now();
    while (got.find('\r') == std::string::npos && msSince(start) < ms) {
        if (line.waitReadable(ms - static_cast<int>(msSince(start))) != SerialLine::Waited::Readable)
            break;
        char buffer[64];
        const long n = line.read(buffer, sizeof buffer);
        if (n < 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: serial_line_check DEVICE\n");
        return 2;
    }
    const std::string device = argv[1];
    SerialSettings settings;  // 9600 8N1, DTR and RTS on: the meter's
    const auto line = SerialLine::forThisPlatform();
    check(line->open(device, settings) == SerialLine::Opened::Yes, "opens " + device);
    check(!line->isOpen() || SerialLine::forThisPlatform()->open(device, settings) == SerialLine::Opened::InUse,
          "a second opener is refused as in use");
    check(SerialLine::forThisPlatform()->open(device + "-none", settings) == SerialLine::Opened::Missing,
          "a device that is not there is missing");

    auto start = Clock::now();
    check(line->waitReadable(kQuietMs) == SerialLine::Waited::TimeUp && msSince(start) >= kQuietMs * 0.9,
          "a quiet line waits its time");

    std::thread stopper([&line] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kStopAfterMs));
        line->stop();
    });
    start = Clock::now();
    const SerialLine::Waited stopped = line->waitReadable(kAnswerMs);
    stopper.join();
    check(stopped == SerialLine::Waited::Stopped && msSince(start) < kAnswerMs / 2.0,
          "another thread stops a wait at once");

    check(line->write("V\r", 2) && line->drain(), "writes and drains the identity request");
    check(answer(*line, kAnswerMs) == kIdentity, "reads the meter's identity");

    // Where the platform can, a wait ends only once the whole answer waits.
    const bool counted = line->setWakeChars(static_cast<int>(kIdentity.size()));
    check(line->write("V\r", 2), "asks again");
    start = Clock::now();
    check(line->waitReadable(kAnswerMs) == SerialLine::Waited::Readable &&
              (!counted || line->inputQueued() == static_cast<long>(kIdentity.size())),
          counted ? "a wait ends once the whole answer has come" : "a wait ends when the answer comes");
    std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
    check(line->inputQueued() == static_cast<long>(kIdentity.size()) && line->outputQueued() == 0,
          "the driver counts what came and what is left to send");
    line->setWakeChars(1);
    line->setRts(true);
    line->purgeInput();
    char buffer[64];
    check(line->read(buffer, sizeof buffer) == 0, "purged input is gone");

    std::printf("waiting for the line to go\n");
    std::fflush(stdout);
    start = Clock::now();
    while (msSince(start) < kLossMs && line->waitReadable(kLossMs) == SerialLine::Waited::Readable &&
           line->read(buffer, sizeof buffer) >= 0) {
    }
    check(!line->isOpen(), "a hung-up line is lost, and closed");
    return failures == 0 ? 0 : 1;
}
