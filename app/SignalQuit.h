#pragma once
#include <functional>
#include <memory>

class QSocketNotifier;

// Turns the signals that ask a program to end (SIGINT from Ctrl+C, SIGTERM
// from kill or a shutdown, SIGHUP from a closed terminal) into a call of
// `onSignal` from the event loop of the thread that made this object. The
// signal handler itself only writes a byte to a pipe; a socket notifier on the
// pipe makes the call, so it runs as any other handler does: in the main loop,
// or inside the wait of a running command. A signal ignored from the start
// stays ignored; the handlers that were there before are put back when the
// object goes. One instance at a time: a second one installs nothing.
class SignalQuit {
public:
    explicit SignalQuit(std::function<void()> onSignal);
    ~SignalQuit();
    SignalQuit(const SignalQuit &) = delete;
    SignalQuit &operator=(const SignalQuit &) = delete;

    bool installed() const { return notifier_ != nullptr; }

private:
    void drainAndCall();

    std::function<void()> onSignal_;
    int pipe_[2] = {-1, -1};  // read end, write end
    std::unique_ptr<QSocketNotifier> notifier_;
};
