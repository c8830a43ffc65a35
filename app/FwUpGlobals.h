#pragma once
#include "link/PortMap.h"
#include <QString>
#include <array>
#include <cstdint>

// The window's own state for the whole run; everything is zero or empty at
// start. What belongs to the meter (port in use, model, boot mode, identity)
// is the meter link's (MeterState).
struct FwUpGlobals {
    QString App_Path;            // the program's own folder
    bool First_Activate = false; // true from window load until its first activation
    bool Quit_Request = false;   // set once, never cleared; the main loop then ends
    std::array<bool, PortMap::kPortCount + 1> Port_Present{};  // element 0 always false
    std::int16_t Port_Menu_Index = 0;  // Port menu item of the port in use
};
