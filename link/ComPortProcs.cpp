// Opening and closing the meter's port, and the timed waits.
#include "app/FwUpErrors.h"
#include "app/Prompts.h"
#include "app/frmFwUpMain.h"
#include "link/CommPort.h"
#include "link/EventWait.h"

namespace {
constexpr int kNoHandshaking = 0;
}

void frmFwUpMain::Com_Open()
{
    if (Comm1.portOpen() || g.Port_Number == 0)
        return;
    try {
        Comm1.setCommPort(g.Port_Number);
        Comm1.setSettings(kLineSettings);
        Comm1.setInBufferSize(kInBufferBytes);
        Comm1.setHandshaking(kNoHandshaking);
        Comm1.setInputLen(1);
        Comm1.setPortOpen(true);
        Comm1.setRTSEnable(true);
    } catch (const FwUpError &) {
        prompts_.MsgBox(QStringLiteral("Error Opening Comm%1:%2").arg(g.Port_Number).arg(kLineSettings),
                        MsgStyle::OkOnly + MsgStyle::Critical, QStringLiteral("Open Comms Port"));
        requestQuit();
    }
}

void frmFwUpMain::Com_Close()
{
    if (Comm1.portOpen())
        Comm1.setPortOpen(false);
}

void frmFwUpMain::TDelay(double ticks)
{
    EventWait::sleepFor(ticks * kTickSeconds);
}

void frmFwUpMain::SDelay(const std::int16_t &seconds)
{
    // The product is a 16-bit value, as callers rely on; they pass 1.
    TDelay(static_cast<std::int16_t>(seconds * kTicksPerSecond));
}
