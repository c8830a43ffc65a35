#pragma once
#include <QString>

// A "sleep" inhibitor lock from the login manager (logind's Inhibit call on
// the system D-Bus, "block" mode), so the machine neither suspends nor powers
// its USB down while a meter takes its firmware. The lock is the descriptor
// logind hands out; it holds while the descriptor is open. Where there is no
// bus or no login manager (or it says no), the tool goes on without one,
// silently.
class SleepInhibitor {
public:
    static inline const QString kReason = QStringLiteral("Upgrading meter firmware");

    explicit SleepInhibitor(QString who);
    ~SleepInhibitor();
    SleepInhibitor(const SleepInhibitor &) = delete;
    SleepInhibitor &operator=(const SleepInhibitor &) = delete;

    // Takes the lock unless it is held already; blocks for at most a moment.
    void acquire();
    void release();
    bool held() const { return fd_ >= 0; }

private:
    QString who_;
    int fd_ = -1;
};

// Holds the lock for as long as it lives.
class SleepInhibited {
public:
    explicit SleepInhibited(const QString &who) : lock_(who) { lock_.acquire(); }

private:
    SleepInhibitor lock_;
};
