#pragma once
#include "app/frmFwUpMain.h"
#include <functional>

// The start procedure: shows the main window and keeps the program alive in
// its main loop until a quit request.
namespace FwUpStartup {

// Runs the whole program with the given services; returns when it ends.
// SIGINT, SIGTERM and SIGHUP meanwhile quit as File, Exit does. `onShown`,
// when given, is called once the window is up (tests use it to schedule their
// clicks).
int Main(FwUpGlobals &globals, const FwUpServices &services,
         const std::function<void(frmFwUpMain &)> &onShown = {});

// The real program's window on the application already made: the real serial
// port, Qt prompts, the adapters' library, the desktop's viewer and the
// executable's folder. Returns when the program ends.
int RunWindow(const std::function<void(frmFwUpMain &)> &onShown = {});

// The real program: the application, then its window.
int RunApplication(int argc, char **argv);

}
