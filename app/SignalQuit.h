#pragma once
#include <functional>
#include <memory>

// Turns the signals that ask a program to end (SIGINT from Ctrl+C, SIGTERM
// from kill or a shutdown, SIGHUP from a closed terminal; on Windows the
// console's Ctrl+C, Ctrl+Break and close) into a call of `onSignal` from the
// event loop of the thread that made this object. The handler itself only
// wakes that loop (a byte in a pipe, an event set), so the call runs as any
// other handler does: in the main loop, or inside the wait of a running
// command. A signal ignored from the start stays ignored; the handlers that
// were there before are put back when the object goes. One instance at a
// time: a second one installs nothing.
class SignalQuit {
public:
    explicit SignalQuit(std::function<void()> onSignal);
    ~SignalQuit();
    SignalQuit(const SignalQuit &) = delete;
    SignalQuit &operator=(const SignalQuit &) = delete;

    bool installed() const { return wake_ != nullptr; }

private:
    class Wake;  // the platform's way from the handler to the loop

    std::function<void()> onSignal_;
    std::unique_ptr<Wake> wake_;
};
