#include "cli/MeterStack.h"
#include "base/FwUpErrors.h"
#include "cli/StopSignal.h"
#include "link/MeterState.h"

MeterStack::MeterStack(const MeterAddress &address, const PortMap &map, MeterBoard &board, int index,
                       const QString &logDir)
    : serial_(map), port(serial_), report(board, index, port, logDir),
      prompts(StopSignal::flag(), DecisionObserver{board, index, port}), linkEvents_(port, address),
      link(port, prompts, linkEvents_, address)
{
    serial_.setWaitsBlocked(true);
    report.started();
    link.meter().Model_Code = MeterState::kAnyModel;
}

void MeterStack::closeQuietly()
{
    try {
        link.Com_Close();
    } catch (const FwUpError &) {
    }
}
