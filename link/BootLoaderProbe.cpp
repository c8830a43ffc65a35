// One port of the search for a meter already waiting in its boot loader.
#include "base/FwUpErrors.h"
#include "link/CommPort.h"
#include "link/MeterLink.h"

void MeterLink::Probe_Boot(bool &acknowledged)
{
    acknowledged = false;
    Com_Close();
    Com_Open();
    events_.bootPortChecking(g.Port_Number);
    SDelay(1);
    try {
        Comm1.output(kUpgradeModeCommand);
        Acknowledge(acknowledged);
    } catch (const FwUpError &) {
        acknowledged = false;  // the port could not be opened, or the line was lost
    }
}
