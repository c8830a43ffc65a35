// The serial line on Windows: a COM port opened with no sharing, its DCB and
// timeouts set from the settings, and overlapped I/O whose waits also wait
// on a stop event.
#include "link/SerialLine.h"
#include "link/WindowsPortSettings.h"
#include <windows.h>
#include <algorithm>

namespace {

bool isLoss(DWORD error)
{
    return error == ERROR_DEVICE_REMOVED || error == ERROR_BAD_COMMAND || error == ERROR_GEN_FAILURE ||
           error == ERROR_INVALID_HANDLE || error == ERROR_ACCESS_DENIED || error == ERROR_NOT_READY ||
           error == ERROR_DEV_NOT_EXIST || error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF;
}

// Why no WaitCommEvent: a port without modem lines (a pseudo-terminal under
// Wine, some virtual ports) aborts every such wait. A read of one byte that
// waits for it, with the stop event beside it, works on every port; the
// byte it takes is handed out first by the next read.
class WindowsSerialLine : public SerialLine {
public:
    WindowsSerialLine()
        : stop_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          io_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          waitingRead_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    ~WindowsSerialLine() override
    {
        release();
        for (HANDLE h : {stop_, io_, waitingRead_})
            if (h)
                ::CloseHandle(h);
    }

    Opened open(const std::string &device, const SerialSettings &settings) override
    {
        close();
        // The port is opened without sharing, which Windows enforces for a
        // COM port; the named hold keeps two copies of this tool apart where
        // the port does not (a port emulated under Wine).
        hold_ = ::CreateMutexW(nullptr, FALSE, (L"Global\\ovfw-line-" + WindowsPortSettings::holdName(device)).c_str());
        if (hold_ && ::GetLastError() == ERROR_ALREADY_EXISTS) {
            releaseHold();
            return Opened::InUse;
        }
        const HANDLE h = ::CreateFileW(WindowsPortSettings::devicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            releaseHold();
            switch (error) {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND: return Opened::Missing;
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION: return Opened::InUse;
            default: return Opened::Failed;
            }
        }
        handle_ = h;
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!::GetCommState(handle_, &dcb)) {
            close();
            return Opened::NotSerial;
        }
        WindowsPortSettings::apply(settings, dcb);
        COMMTIMEOUTS timeouts = WindowsPortSettings::waitingReads(kLongestReadMs);
        if (!::SetCommState(handle_, &dcb) || !::SetCommTimeouts(handle_, &timeouts)) {
            close();
            return Opened::Failed;
        }
        ::PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
        return Opened::Yes;
    }

    bool isOpen() const override { return handle_ != INVALID_HANDLE_VALUE; }

    void close() override { release(); }

private:
    void release()
    {
        if (handle_ != INVALID_HANDLE_VALUE) {
            endWaitingRead();
            ::CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        taken_ = false;
        releaseHold();
    }

public:
    bool write(const char *data, std::size_t size) override
    {
        while (isOpen() && size > 0) {
            OVERLAPPED o{};
            o.hEvent = io_;
            ::ResetEvent(io_);
            DWORD done = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
            if (!::WriteFile(handle_, data, chunk, &done, &o) &&
                (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(handle_, &o, &done, TRUE))) {
                lost();
                return false;
            }
            data += done;
            size -= done;
        }
        return isOpen();
    }

    long read(char *into, std::size_t most) override
    {
        if (!isOpen())
            return -1;
        if (most == 0)
            return 0;
        // The waiting read ends first, so that no byte overtakes the one it
        // may hold.
        endWaitingRead();
        if (!isOpen())
            return -1;
        std::size_t got = 0;
        if (taken_) {
            into[got++] = takenByte_;
            taken_ = false;
        }
        DWORD errors = 0;
        COMSTAT status{};
        if (!::ClearCommError(handle_, &errors, &status))
            return lost() ? static_cast<long>(got) : -1;
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(most - got, status.cbInQue));
        if (wanted == 0)
            return static_cast<long>(got);
        OVERLAPPED o{};
        o.hEvent = io_;
        ::ResetEvent(io_);
        DWORD more = 0;
        if (!::ReadFile(handle_, into + got, wanted, &more, &o) &&
            (::GetLastError() != ERROR_IO_PENDING || !::GetOverlappedResult(handle_, &o, &more, TRUE)))
            return lost() ? static_cast<long>(got) : -1;
        return static_cast<long>(got + more);
    }

    Waited waitReadable(int milliseconds) override
    {
        const ULONGLONG until = ::GetTickCount64() + static_cast<ULONGLONG>(std::max(0, milliseconds));
        for (;;) {
            if (!isOpen())
                return Waited::Lost;
            if (taken_)
                return Waited::Readable;
            if (!readWaiting_) {
                DWORD errors = 0;
                COMSTAT status{};
                if (!::ClearCommError(handle_, &errors, &status))
                    return lost() ? Waited::Readable : Waited::Lost;
                if (status.cbInQue > 0)
                    return Waited::Readable;
                waitingOverlapped_ = OVERLAPPED{};
                waitingOverlapped_.hEvent = waitingRead_;
                ::ResetEvent(waitingRead_);
                DWORD got = 0;
                if (::ReadFile(handle_, &takenByte_, 1, &got, &waitingOverlapped_)) {
                    taken_ = got == 1;
                    continue;
                }
                if (::GetLastError() != ERROR_IO_PENDING)
                    return lost() ? Waited::Readable : Waited::Lost;
                readWaiting_ = true;
            }
            DWORD left = INFINITE;
            if (milliseconds >= 0) {
                const ULONGLONG now = ::GetTickCount64();
                left = now >= until ? 0 : static_cast<DWORD>(until - now);
            }
            const HANDLE both[] = {waitingRead_, stop_};
            switch (::WaitForMultipleObjects(2, both, FALSE, left)) {
            case WAIT_OBJECT_0: finishWaitingRead(); continue;
            case WAIT_OBJECT_0 + 1: return Waited::Stopped;
            case WAIT_TIMEOUT: return Waited::TimeUp;
            default: return lost() ? Waited::TimeUp : Waited::Lost;
            }
        }
    }

    void stop() override { ::SetEvent(stop_); }

    bool drain() override { return isOpen() && (::FlushFileBuffers(handle_) || lost()); }

    void purgeInput() override
    {
        if (!isOpen())
            return;
        endWaitingRead();
        taken_ = false;
        ::PurgeComm(handle_, PURGE_RXCLEAR | PURGE_RXABORT);
    }

    long inputQueued() override
    {
        COMSTAT status{};
        return (taken_ ? 1 : 0) + (status_(status) ? static_cast<long>(status.cbInQue) : 0);
    }

    long outputQueued() override
    {
        COMSTAT status{};
        return status_(status) ? static_cast<long>(status.cbOutQue) : 0;
    }

    void setRts(bool on) override
    {
        if (isOpen())
            ::EscapeCommFunction(handle_, on ? SETRTS : CLRRTS);
    }

    // The driver wakes a wait on every byte; there is no count to set.
    bool setWakeChars(int) override { return false; }
    bool lowLatency() const override { return false; }
    std::intptr_t readyHandle() const override
    {
        return isOpen() ? reinterpret_cast<std::intptr_t>(waitingRead_) : -1;
    }

private:
    // A few days: a waiting read that outlives every wait here.
    static constexpr DWORD kLongestReadMs = 7 * 24 * 60 * 60 * 1000;

    bool status_(COMSTAT &status)
    {
        DWORD errors = 0;
        return isOpen() && ::ClearCommError(handle_, &errors, &status);
    }

    // Takes what the waiting read brought, once it has ended.
    void finishWaitingRead()
    {
        DWORD got = 0;
        const BOOL done = ::GetOverlappedResult(handle_, &waitingOverlapped_, &got, TRUE);
        readWaiting_ = false;
        if (done && got == 1)
            taken_ = true;
        else if (!done && ::GetLastError() != ERROR_OPERATION_ABORTED)
            lost();
    }

    // Cancels the waiting read and takes its byte if one came meanwhile.
    void endWaitingRead()
    {
        if (!readWaiting_)
            return;
        ::CancelIoEx(handle_, &waitingOverlapped_);
        finishWaitingRead();
    }

    void releaseHold()
    {
        if (hold_)
            ::CloseHandle(hold_);
        hold_ = nullptr;
    }

    // Closes the line when the last call's error says it is gone; true when
    // it is still there.
    bool lost()
    {
        if (!isLoss(::GetLastError()))
            return true;
        close();
        return false;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE hold_ = nullptr;
    HANDLE stop_;
    HANDLE io_;
    HANDLE waitingRead_;
    OVERLAPPED waitingOverlapped_{};
    bool readWaiting_ = false;  // a one-byte read is under way, across calls
    char takenByte_ = 0;
    bool taken_ = false;  // takenByte_ came and was not read yet
};

}

std::unique_ptr<SerialLine> SerialLine::forThisPlatform()
{
    return std::make_unique<WindowsSerialLine>();
}
