#include "cli/StopSignal.h"
#include "link/PortMap.h"
#include <QFile>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <unistd.h>

namespace {
std::atomic<bool> stopFlag{false};
std::atomic<int> signalsSeen{0};
std::atomic<std::uint32_t> bootLoaderPorts{0};  // bit n: port n may be in its boot loader
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");
static_assert(std::atomic<int>::is_always_lock_free, "the count is kept by a signal handler");
static_assert(std::atomic<std::uint32_t>::is_always_lock_free, "the ports are read by a signal handler");
static_assert(PortMap::kPortCount < 32, "one bit per port");

constexpr std::size_t kNoteBytes = 4096;
constexpr std::size_t kFileBytes = 2048;
char upgradeFile[kFileBytes] = "FILE";

// A note built in a fixed buffer: a signal handler may not allocate.
struct Note {
    char text[kNoteBytes];
    std::size_t used = 0;
    void add(const char *s)
    {
        for (; *s && used < kNoteBytes; ++s)
            text[used++] = *s;
    }
    void add(int n)
    {
        char digits[12];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + n % 10);
            n /= 10;
        } while (n > 0 && count < 11);
        while (count > 0 && used < kNoteBytes)
            text[used++] = digits[--count];
    }
};

// Only async-signal-safe calls from here on.
void writeEscapeNote()
{
    Note note;
    note.add("\novfw: stopped at once, without finishing the lines in flight.\n");
    const std::uint32_t ports = bootLoaderPorts.load();
    for (int port = 1; port <= PortMap::kPortCount; ++port) {
        if (!(ports & (1u << port)))
            continue;
        note.add("Port ");
        note.add(port);
        note.add(" may be in its boot loader; finish it with:\n  ovfw upgrade \"");
        note.add(upgradeFile);
        note.add("\" --boot --port ");
        note.add(port);
        note.add("\n");
    }
    const ssize_t written = ::write(STDERR_FILENO, note.text, note.used);
    (void)written;
}

void onSignal(int signalNumber)
{
    stopFlag.store(true);
    if (signalsSeen.fetch_add(1) == 0)
        return;
    // The second one: the way out stays open, at once.
    writeEscapeNote();
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);  // delivered as the handler returns
}
}

namespace StopSignal {
void install()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool requested() { return stopFlag.load(); }
const std::atomic<bool> &flag() { return stopFlag; }
void request() { stopFlag.store(true); }

void setUpgradeFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(path).left(kFileBytes - 1);
    std::memcpy(upgradeFile, native.constData(), static_cast<std::size_t>(native.size()));
    upgradeFile[native.size()] = '\0';
}

void setMayBeInBootLoader(int port, bool maybe)
{
    if (port < 1 || port > PortMap::kPortCount)
        return;
    if (maybe)
        bootLoaderPorts.fetch_or(1u << port);
    else
        bootLoaderPorts.fetch_and(~(1u << port));
}
}
