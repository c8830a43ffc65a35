#pragma once
#include "FakeChipIdLibrary.h"
#include "RecordingDocumentOpener.h"
#include "ScriptedPrompts.h"
#include "app/frmFwUpMain.h"
#include "link/QtCommPort.h"
#include <QTemporaryDir>
#include <memory>

// The main window wired to a real QSerialPort whose port numbers map to the
// given devices (OVFW_PORTS form, e.g. "3=/dev/pts/4"), scripted prompts and
// a program folder of its own.
struct WindowRig {
    explicit WindowRig(const QString &portSpec);
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
};
