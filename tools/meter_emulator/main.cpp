#include "EmulatorOptions.h"
#include "MeterEmulator.h"
#include <csignal>
#include <cstdio>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {
volatile bool stopRequested = false;
void onSignal(int) { stopRequested = true; }
}

int main(int argc, char **argv)
{
    EmulatorOptions options;
    int exitCode = 0;
    if (!parseEmulatorOptions(argc, argv, options, exitCode))
        return exitCode;

    struct sigaction sa {};
    sa.sa_handler = onSignal;  // no SA_RESTART: poll() returns and the loop ends
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
#ifdef __linux__
    // Ends with the program that started it, so a test that crashes leaves
    // no meter behind holding its output open.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
#endif

    MeterEmulator meter(options);
    std::string error;
    const std::string device = meter.openLine(error);
    if (device.empty()) {
        std::fprintf(stderr, "ov_meter_emulator: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", device.c_str());
    std::fflush(stdout);
    meter.run(stopRequested);
    return 0;
}
