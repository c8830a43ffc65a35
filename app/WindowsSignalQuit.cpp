#include "app/SignalQuit.h"
#include "base/WindowsConsoleEvents.h"
#include <QWinEventNotifier>
#include <atomic>
#include <windows.h>

namespace {

// The event of the installed instance; null when none is installed. The
// console runs its control handler on a thread of its own.
std::atomic<HANDLE> wakeEvent{nullptr};

// On an ending, the handler holds on so the loop can quit as it would on Exit.
BOOL WINAPI onConsoleControl(DWORD type)
{
    const ConsoleEvents::Kind kind = ConsoleEvents::kindOf(type);
    HANDLE event = wakeEvent.load();
    if (kind == ConsoleEvents::Kind::Other || event == nullptr)
        return FALSE;
    ::SetEvent(event);
    if (kind == ConsoleEvents::Kind::Ending)
        ::Sleep(ConsoleEvents::kEndingGraceMs);
    return TRUE;
}

} // namespace

// The event the console's handler sets, and the notifier that sees it in the
// loop. A window started without a console gets no console events; its
// close box and the session's end reach it as a close request instead.
class SignalQuit::Wake {
public:
    Wake(HANDLE event, const std::function<void()> &onSignal) : event_(event), notifier_(event)
    {
        QObject::connect(&notifier_, &QWinEventNotifier::activated, &notifier_, [this, &onSignal] {
            ::ResetEvent(event_);  // several before the loop came round are one request
            if (onSignal)
                onSignal();
        });
    }
    ~Wake()
    {
        notifier_.setEnabled(false);
        ::CloseHandle(event_);
    }

private:
    HANDLE event_;
    QWinEventNotifier notifier_;
};

SignalQuit::SignalQuit(std::function<void()> onSignal) : onSignal_(std::move(onSignal))
{
    if (wakeEvent.load() != nullptr)
        return;
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr)
        return;
    wake_ = std::make_unique<Wake>(event, onSignal_);
    wakeEvent.store(event);
    ::SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

SignalQuit::~SignalQuit()
{
    if (!installed())
        return;
    ::SetConsoleCtrlHandler(onConsoleControl, FALSE);
    wakeEvent.store(nullptr);
    wake_.reset();
}
