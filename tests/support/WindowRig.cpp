#include "WindowRig.h"
#include "app/FwUpStartup.h"

WindowRig::WindowRig(const QString &portSpec, Window made)
    : comm(PortMap::fromOverride(portSpec))
{
    if (made == Window::Made)
        window = std::make_unique<frmFwUpMain>(g, services());
}

WindowRig::~WindowRig() = default;

int WindowRig::runProgram(const std::function<void(frmFwUpMain &)> &onShown)
{
    const int exitCode = FwUpStartup::Main(g, services(), onShown);
    portOpenAtEnd = comm.portOpen();
    return exitCode;
}
