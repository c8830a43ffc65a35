#pragma once
#include <QString>
#include <memory>

// On Windows: the thread's execution state says the system is required
// (SetThreadExecutionState), from acquire() to release() on the same thread.
// Elsewhere: a "sleep" inhibitor lock from the login manager (logind's Inhibit call on
// the system D-Bus, "block" mode), so the machine neither suspends nor powers
// its USB down while a meter takes its firmware. The lock is the descriptor
// logind hands out; it holds while the descriptor is open. The request is
// sent without waiting for its answer: nothing that asks for the lock waits
// for the login manager, and the answer (its descriptor) is kept, on the
// D-Bus connection's own thread, as it arrives. Where there is no bus or no
// login manager (or it says no, or does not answer), the tool goes on without
// a lock, silently.
class SleepInhibitor {
public:
    static inline const QString kReason = QStringLiteral("Upgrading meter firmware");

    explicit SleepInhibitor(QString who);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;

    // Asks for the lock unless it was asked for already; returns at once.
    void acquire();
    // Gives the lock up, or the answer still to come: a lock that arrives
    // later is closed as it arrives.
    void release();
    // Whether the login manager's answer has come and holds a lock.
    bool held() const;

private:
    class Request;  // the platform's hold

    QString who_;
    std::unique_ptr<Request> request_;
};

// Asks for the lock at once and holds whatever comes for as long as it lives.
class SleepInhibited {
public:
    explicit SleepInhibited(const QString &who) : lock_(who) { lock_.acquire(); }

private:
    SleepInhibitor lock_;
};
