// Opening and closing the meter's port, and the timed waits.
#include "base/FwUpErrors.h"
#include "base/Prompts.h"
#include "link/CommPort.h"
#include "link/EventWait.h"
#include "link/MeterLink.h"

namespace {
constexpr int kNoHandshaking = 0;
constexpr int kCharsPerRead = 1;
const QString kOpenFailedTitle = QStringLiteral("Open Comms Port");
}

MeterLink::MeterLink(FwUpGlobals &globals, CommPort &comm, Prompts &prompts, LinkEvents &events)
    : g(globals), Comm1(comm), prompts_(prompts), events_(events)
{
}

void MeterLink::Com_Open()
{
    if (Comm1.portOpen() || g.Port_Number == 0)
        return;
    try {
        Comm1.setCommPort(g.Port_Number);
        Comm1.setSettings(kLineSettings);
        Comm1.setInBufferSize(kInBufferBytes);
        Comm1.setHandshaking(kNoHandshaking);
        Comm1.setInputLen(kCharsPerRead);
        Comm1.setPortOpen(true);
        Comm1.setRTSEnable(true);
    } catch (const FwUpError &) {
        prompts_.MsgBox(QStringLiteral("Error Opening Comm%1:%2").arg(g.Port_Number).arg(kLineSettings),
                        MsgStyle::OkOnly + MsgStyle::Critical, kOpenFailedTitle);
        g.Quit_Request = true;
        events_.quitRequested();
    }
}

void MeterLink::Com_Close()
{
    if (Comm1.portOpen())
        Comm1.setPortOpen(false);
}

void MeterLink::TDelay(double ticks)
{
    EventWait::sleepFor(ticks * kTickSeconds);
}

void MeterLink::SDelay(const std::int16_t &seconds)
{
    // The product is a 16-bit value, as callers rely on; they pass 1.
    TDelay(static_cast<std::int16_t>(seconds * kTicksPerSecond));
}
