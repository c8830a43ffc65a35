#include "EmulatorOptions.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char *kHelp =
    "Usage: ov_meter_emulator [OPTION]...\n"
    "Emulates an orvane meter on a pseudo-terminal. Prints the device path on the\n"
    "first line of standard output, then serves the line until it is terminated.\n"
    "\n"
    "Normal mode answers \"V\" CR with the version reply; \"H\" CR is the quiet\n"
    "command; the bytes C2 D4 0D switch to the boot loader, which answers \"PASS\" CR.\n"
    "The boot loader acknowledges every valid Intel HEX record with \"PASS\" CR,\n"
    "answers a bad one with \"FAIL\" CR, and writes the image at the end-of-file\n"
    "record.\n"
    "\n"
    "Options:\n"
    "  --identity TEXT       version reply without its CR (default V,OV3A01234,1.02,2.10)\n"
    "  --chatter             send readings until quieted by the quiet command\n"
    "  --chatter-interval MS\n"
    "                        time between readings (default 150)\n"
    "  --quiet-after N       quiet commands needed before the chatter stops (default 1)\n"
    "  --never-quiet         keep chattering whatever it is told\n"
    "  --boot                start already in the boot loader\n"
    "  --silent              never send anything\n"
    "  --late-reply MS       hold every reply back by MS milliseconds\n"
    "  --garble              corrupt the version reply on the line\n"
    "  --refuse-line N       answer upgrade record N (1 = first) with FAIL\n"
    "  --refuse-count K      refuse it K times, then accept it (default: always)\n"
    "  --hangup-after N      drop the line after acknowledging N records\n"
    "  --reply-delay MS      the meter's processing time before a reply (default 2)\n"
    "  --switch-delay MS     hold the acknowledgement of C2 D4 back by MS milliseconds\n"
    "  --slow-lines EVERY:MS answer every EVERYth upgrade record MS milliseconds late,\n"
    "                        as a meter erasing a flash page would\n"
    "  --commit-delay MS     acknowledge the end-of-file record only after MS\n"
    "                        milliseconds spent committing the image\n"
    "  --no-pacing           send at once instead of at 9600 baud\n"
    "  --noise RATE          flip bits at this bit-error rate (e.g. 1e-5), both ways\n"
    "  --reset-at N          restart when upgrade record N arrives (once): the record\n"
    "                        is lost, the meter is silent for 1 s, then its boot\n"
    "                        loader waits for the upgrade-mode command (records\n"
    "                        before it get FAIL) with no partial image kept\n"
    "  --drop-reply-every N  lose every Nth acknowledgement of an accepted record\n"
    "  --seed N              seed of the noise (default 1): the same seed, the same\n"
    "                        flips for the same bytes\n"
    "  --stats PATH          write what the faults did: bits flipped, replies dropped,\n"
    "                        restarts, and records accepted although the noise\n"
    "                        changed them (let_through)\n"
    "  --image PATH          write the received image here (binary, from its lowest\n"
    "                        address, gaps filled with FF) at the end-of-file record;\n"
    "                        a PATH ending in .hex gets only the bytes received, as\n"
    "                        Intel HEX\n"
    "  --log PATH            record the wire: one line per burst, \"SECONDS rx|tx HEX\"\n"
    "                        (rx = to the meter), seconds since the emulator started\n"
    "  --link PATH           also make PATH a symbolic link to the device\n"
    "  --restart-into VER    after the end-of-file record, restart in normal mode\n"
    "                        with firmware version VER in the version reply\n"
    "  --swapped-for SERIAL  with --restart-into: another meter, SERIAL, answers\n"
    "                        after the end-of-file record, as when a meter is\n"
    "                        swapped on its cable during the verification\n"
    "  --help                show this text\n"
    "  --version             show the version\n";

bool number(const char *text, int &out)
{
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < 0 || v > 1000000)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool rate(const char *text, double &out)
{
    char *end = nullptr;
    const double v = std::strtod(text, &end);
    if (!text[0] || *end || !(v >= 0 && v <= 1))
        return false;
    out = v;
    return true;
}

// "EVERY:MS", both numbers, EVERY at least 1.
bool everyAndMs(const char *text, int &every, int &ms)
{
    const std::string t = text;
    const auto colon = t.find(':');
    return colon != std::string::npos && number(t.substr(0, colon).c_str(), every) && every > 0 &&
           number(t.substr(colon + 1).c_str(), ms);
}

bool seed(const char *text, unsigned long long &out)
{
    char *end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (!text[0] || *end || text[0] == '-')
        return false;
    out = v;
    return true;
}

} // namespace

bool parseEmulatorOptions(int argc, char **argv, EmulatorOptions &o, int &exitCode)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        auto text = [&](std::string &out) {
            if (!hasValue) return false;
            out = argv[++i];
            return true;
        };
        auto num = [&](int &out) { return hasValue && number(argv[++i], out); };
        bool ok = true;
        if (a == "--help") {
            std::fputs(kHelp, stdout);
            exitCode = 0;
            return false;
        } else if (a == "--version") {
            std::printf("ov_meter_emulator %s\n", OVFW_VERSION);
            exitCode = 0;
            return false;
        } else if (a == "--identity") ok = text(o.identity);
        else if (a == "--chatter") o.chatter = true;
        else if (a == "--chatter-interval") ok = num(o.chatterIntervalMs) && o.chatterIntervalMs > 0;
        else if (a == "--quiet-after") ok = num(o.quietAfter);
        else if (a == "--never-quiet") o.neverQuiet = o.chatter = true;
        else if (a == "--boot") o.startInBoot = true;
        else if (a == "--silent") o.silent = true;
        else if (a == "--late-reply") ok = num(o.lateReplyMs);
        else if (a == "--garble") o.garble = true;
        else if (a == "--refuse-line") ok = num(o.refuseLine);
        else if (a == "--refuse-count") ok = num(o.refuseCount);
        else if (a == "--hangup-after") ok = num(o.hangupAfter);
        else if (a == "--reply-delay") ok = num(o.replyDelayMs);
        else if (a == "--switch-delay") ok = num(o.switchDelayMs);
        else if (a == "--slow-lines") ok = hasValue && everyAndMs(argv[++i], o.slowEvery, o.slowMs);
        else if (a == "--commit-delay") ok = num(o.commitDelayMs);
        else if (a == "--no-pacing") o.pacing = false;
        else if (a == "--noise") ok = hasValue && rate(argv[++i], o.noiseRate);
        else if (a == "--reset-at") ok = num(o.resetAt);
        else if (a == "--drop-reply-every") ok = num(o.dropReplyEvery);
        else if (a == "--seed") ok = hasValue && seed(argv[++i], o.seed);
        else if (a == "--stats") ok = text(o.statsPath);
        else if (a == "--image") ok = text(o.imagePath);
        else if (a == "--log") ok = text(o.logPath);
        else if (a == "--link") ok = text(o.linkPath);
        else if (a == "--restart-into") ok = text(o.restartInto) && !o.restartInto.empty();
        else if (a == "--swapped-for") ok = text(o.swappedFor) && !o.swappedFor.empty();
        else ok = false;
        if (!ok) {
            std::fprintf(stderr, "ov_meter_emulator: bad option or value near \"%s\"; see --help\n",
                         a.c_str());
            exitCode = 2;
            return false;
        }
    }
    return true;
}
