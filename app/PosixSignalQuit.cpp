#include "app/SignalQuit.h"
#include <QSocketNotifier>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> kQuitSignals{SIGINT, SIGTERM, SIGHUP};
constexpr int kDrainChunkBytes = 64;

// The write end of the installed instance's pipe; -1 when none is installed.
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<int> wakeFd{-1};
std::array<struct sigaction, kQuitSignals.size()> previousActions{};
std::array<bool, kQuitSignals.size()> replaced{};

void onQuitSignal(int)
{
    // Async-signal-safe calls only. A full pipe already holds a wake-up, so a
    // failed write loses nothing.
    const int savedErrno = errno;
    const char byte = 1;
    const ssize_t written = ::write(wakeFd.load(), &byte, 1);
    static_cast<void>(written);
    errno = savedErrno;
}

// A pipe whose ends neither block nor pass to child processes.
bool makeWakePipe(int fds[2])
{
    if (::pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i)
        if (::fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0 ||
            ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK) != 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
    return true;
}

} // namespace

// The pipe the handler writes to, and the notifier that reads it in the loop.
class SignalQuit::Wake {
public:
    Wake(int readEnd, int writeEnd, const std::function<void()> &onSignal)
        : pipe_{readEnd, writeEnd}, notifier_(readEnd, QSocketNotifier::Read)
    {
        QObject::connect(&notifier_, &QSocketNotifier::activated, &notifier_, [this, &onSignal] {
            drain();
            if (onSignal)
                onSignal();
        });
    }
    ~Wake()
    {
        notifier_.setEnabled(false);
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }

private:
    void drain()
    {
        // Several signals before the loop came round are one request.
        char buffer[kDrainChunkBytes];
        for (;;) {
            const ssize_t n = ::read(pipe_[0], buffer, sizeof buffer);
            if (n > 0 || (n < 0 && errno == EINTR))
                continue;
            break;
        }
    }

    int pipe_[2];
    QSocketNotifier notifier_;
};

SignalQuit::SignalQuit(std::function<void()> onSignal) : onSignal_(std::move(onSignal))
{
    int fds[2];
    if (wakeFd.load() != -1 || !makeWakePipe(fds))
        return;
    wake_ = std::make_unique<Wake>(fds[0], fds[1], onSignal_);
    wakeFd.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // system calls under way carry on
    // A signal ignored from the start stays ignored (nohup keeps the program
    // running when its terminal closes).
    for (size_t i = 0; i < kQuitSignals.size(); ++i)
        replaced[i] = sigaction(kQuitSignals[i], nullptr, &previousActions[i]) == 0 &&
                      previousActions[i].sa_handler != SIG_IGN &&
                      sigaction(kQuitSignals[i], &action, nullptr) == 0;
}

SignalQuit::~SignalQuit()
{
    if (!installed())
        return;
    for (size_t i = 0; i < kQuitSignals.size(); ++i)
        if (replaced[i])
            sigaction(kQuitSignals[i], &previousActions[i], nullptr);
    wakeFd.store(-1);
    wake_.reset();
}
