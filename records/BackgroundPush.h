#pragma once
#include "records/HistoryPush.h"
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Pushes the local history to the records server on a thread of its own,
// with connections of its own, whenever asked and every minute, so that no
// meter ever waits for the server. Requests made while a push runs are
// folded into one more push after it.
//
// It tells what a person needs to know through `tell`, one line at a time,
// and only when it changes: the first push that fails, and the first that
// succeeds after failures.
class BackgroundPush {
public:
    static constexpr double kEverySeconds = 60;
    // Beyond the push's own deadline, how long finish() waits for it.
    static constexpr double kGraceSeconds = 2;

    BackgroundPush(RecordsServerAddress server, QString historyPath, const PushSettings &settings,
                   std::function<void(const QString &)> tell);
    // finish(), unless done already.
    ~BackgroundPush();
    BackgroundPush(const BackgroundPush &) = delete;
    BackgroundPush &operator=(const BackgroundPush &) = delete;

    // From any thread: push soon.
    void request();
    // One last push, then the thread ends. False when it has not ended within
    // the push deadline and the grace (a connection that hangs where no
    // deadline reaches): the thread is then let go, and the process may end
    // without it.
    bool finish();

private:
    struct Shared;
    static void work(const std::shared_ptr<Shared> &shared);
    static void pushOnce(Shared &shared);

    std::shared_ptr<Shared> shared_;  // with the thread, which may outlive this
    std::thread thread_;
};
