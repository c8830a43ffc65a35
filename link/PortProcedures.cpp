// Opening and closing the meter's port, and the timed waits.
#include "base/FwUpErrors.h"
#include "base/Prompts.h"
#include "link/CommPort.h"
#include "base/EventWait.h"
#include "link/MeterLink.h"
#include <utility>

namespace {
constexpr int kNoHandshaking = 0;
constexpr int kCharsPerRead = 1;
}

MeterLink::MeterLink(CommPort &comm, Prompts &prompts, LinkEvents &events, MeterAddress meterAt)
    : address_(std::move(meterAt)), Comm1(comm), prompts_(prompts), events_(events)
{
    meter_.Port_Number = static_cast<std::int16_t>(address_.portNumber());
}

void MeterLink::Com_Open()
{
    const QString &device = address_.devicePath();
    if (Comm1.portOpen() || (meter_.Port_Number == 0 && device.isEmpty()))
        return;
    try {
        if (!device.isEmpty())
            Comm1.setCommDevice(device);
        else
            Comm1.setCommPort(meter_.Port_Number);
        Comm1.setSettings(kLineSettings);
        Comm1.setInBufferSize(kInBufferBytes);
        Comm1.setHandshaking(kNoHandshaking);
        Comm1.setInputLen(kCharsPerRead);
        Comm1.setPortOpen(true);
        Comm1.setRTSEnable(true);
    } catch (const FwUpError &) {
        prompts_.MsgBox(Questions::portOpenFailed(meter_.Port_Number, kLineSettings));
        events_.quitRequested();
    }
}

void MeterLink::aimAt(std::int16_t portNumber)
{
    address_ = MeterAddress::port(portNumber, {});
    meter_.Port_Number = portNumber;
}

void MeterLink::Com_Close()
{
    if (Comm1.portOpen())
        Comm1.setPortOpen(false);
}

bool MeterLink::isOpen() const
{
    return Comm1.portOpen();
}

bool MeterLink::portOpens(int portNumber)
{
    bool opens = true;
    try {
        Comm1.setCommPort(portNumber);
        Comm1.setPortOpen(true);
    } catch (const FwUpError &) {
        opens = false;
    }
    try {
        Comm1.setPortOpen(false);
    } catch (const FwUpError &) {
        opens = false;
    }
    return opens;
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

void MeterLink::serveEvents()
{
    Comm1.yieldOnce();
}

void MeterLink::discardReceived()
{
    // Bytes the port has taken in but not yet handed over are fetched first.
    Comm1.yieldOnce();
    while (Comm1.inBufferCount() > 0)
        Comm1.input();
}
