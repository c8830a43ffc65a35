#include "app/FwUpStartup.h"
#include "app/DocumentOpener.h"
#include "app/QtPrompts.h"
#include "app/SignalQuit.h"
#include "usb/ChipIdLibrary.h"
#include "base/AppFacts.h"
#include "base/EventWait.h"
#include "link/QtCommPort.h"
#include "history/HistoryStore.h"
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSet>
#include <functional>

namespace {
// A stop signal's part before the quit: the boxes open over the window, the
// topmost first. A message box belongs to a running command and is answered
// as its Esc key answers it (one without an escape stays, for the user to
// answer; the quit then waits for the command). Any other box (About, Device
// Info, the file dialog) stands outside the work and is closed.
void answerOpenBoxes()
{
    QSet<QWidget *> answered;
    while (QWidget *box = QApplication::activeModalWidget()) {
        if (answered.contains(box))
            return;
        answered.insert(box);
        if (qobject_cast<QMessageBox *>(box)) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(box, &escape);
        } else if (auto *dialog = qobject_cast<QDialog *>(box)) {
            dialog->reject();
        }
    }
}
}

namespace FwUpStartup {

int Main(FwUpGlobals &globals, const FwUpServices &services,
         const std::function<void(frmFwUpMain &)> &onShown)
{
    // Closing the last window must not end the nested loops of a running
    // command: the main loop alone decides when the program ends.
    QApplication::setQuitOnLastWindowClosed(false);
    frmFwUpMain window(globals, services);
    // Ctrl+C, kill or a closed terminal is File, Exit: the port is closed (its
    // lock released) and no session file is written; the boxes open are
    // answered first. Acted on, as any quit
    // request, once the running handler has returned; the handlers stay until
    // the port is closed below.
    SignalQuit quitOnSignal([&window] {
        window.mnuExit_Click();
        answerOpenBoxes();
    });
    window.Form_Load();
    window.show();
    EventWait::yieldOnce();
    if (onShown)
        onShown(window);
    window.Form_Activate();
    // Ending the program closes the port, also when a quit came before the
    // main loop could start.
    window.link().Com_Close();
    // A caller's prompts may keep the window as their parent; they hold it
    // through a guarded pointer that clears itself as the window goes.
    return 0;  // NOLINT(clang-analyzer-core.StackAddressEscape)
}

int RunWindow(const std::function<void(frmFwUpMain &)> &onShown)
{
    FwUpGlobals globals;
    QtCommPort comm(PortMap::fromEnvironment());
    QtPrompts prompts;
    const std::unique_ptr<ChipIdLibrary> chipId = systemChipIdLibrary();
    QtDocumentOpener opener;
    FwUpServices services{comm, prompts, QCoreApplication::applicationDirPath(), *chipId, opener};
    return Main(globals, services, [&prompts, &onShown](frmFwUpMain &w) {
        prompts.setParentWindow(&w);
        if (onShown)
            onShown(w);
    });
}

int RunApplication(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(FwUpApp::Title);
    HistoryStore::prepareForThreads();  // before any thread may record an attempt
    return RunWindow();
}

}
