#pragma once
#include "FakeChipIdLibrary.h"
#include "RecordingDocumentOpener.h"
#include "ScriptedPrompts.h"
#include "app/frmFwUpMain.h"
#include "link/QtCommPort.h"
#include <QTemporaryDir>
#include <functional>
#include <memory>

// The main window wired to a real QSerialPort whose port numbers map to the
// given devices (OVFW_PORTS form, e.g. "3=/dev/pts/4"), scripted prompts and
// a program folder of its own; or, made without a window, the whole program
// on those same services.
struct WindowRig {
    enum class Window { Made, None };
    explicit WindowRig(const QString &portSpec, Window made = Window::Made);
    ~WindowRig();

    FwUpGlobals g;
    QtCommPort comm;
    ScriptedPrompts prompts;
    FakeChipIdLibrary chipId;
    RecordingDocumentOpener opener;
    QTemporaryDir appDir;
    std::unique_ptr<frmFwUpMain> window;
    MeterState &meter() { return window->meter(); }

    FwUpServices services() { return {comm, prompts, appDir.path(), chipId, opener}; }
    QString sessionFile() const { return appDir.filePath(QStringLiteral("ra_zezidev.cfg")); }

    // Runs the whole program (start-up, main loop, end); `onShown` runs once
    // its window is up. Returns the program's exit code.
    int runProgram(const std::function<void(frmFwUpMain &)> &onShown);
    bool portOpenAtEnd = true;
};
