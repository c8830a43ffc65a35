#include "WindowRig.h"

WindowRig::WindowRig(const QString &portSpec)
    : comm(PortMap::fromOverride(portSpec))
{
    window = std::make_unique<frmFwUpMain>(g, services());
}

WindowRig::~WindowRig() = default;
