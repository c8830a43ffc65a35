#include "app/SignalQuit.h"
#include <QWinEventNotifier>
#include <atomic>
#include <windows.h>

namespace {

// The event of the installed instance; null when none is installed. The
// console runs its control handler on a thread of its own.
std::atomic<HANDLE> wakeEvent{nullptr};
// The system ends the process as soon as the handler of a close, logoff or
// shutdown returns, and at the latest about five seconds after it began: the
// handler holds on, so the loop can quit as it would on Exit.
constexpr DWORD kEndingGraceMs = 4500;

BOOL WINAPI onConsoleControl(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (HANDLE event = wakeEvent.load()) {
            ::SetEvent(event);
            if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
                ::Sleep(kEndingGraceMs);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
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
