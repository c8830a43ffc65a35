#include "records/BackgroundPush.h"
#include "history/HistoryStore.h"
#include <QFileInfo>
#include <chrono>

struct BackgroundPush::Shared {
    RecordsServerAddress server;
    QString historyPath;
    PushSettings settings;
    std::function<void(const QString &)> tell;
    std::mutex mutex;
    std::condition_variable wake;
    bool requested = false;
    bool stopping = false;
    bool ended = false;
    bool failing = false;  // the last push failed (worker thread only)
};

BackgroundPush::BackgroundPush(RecordsServerAddress server, QString historyPath, const PushSettings &settings,
                               std::function<void(const QString &)> tell)
    : shared_(std::make_shared<Shared>())
{
    shared_->server = std::move(server);
    shared_->historyPath = std::move(historyPath);
    shared_->settings = settings;
    shared_->tell = std::move(tell);
    thread_ = std::thread([shared = shared_] { work(shared); });
}

BackgroundPush::~BackgroundPush()
{
    finish();
}

void BackgroundPush::request()
{
    {
        const std::lock_guard<std::mutex> hold(shared_->mutex);
        shared_->requested = true;
    }
    shared_->wake.notify_all();
}

bool BackgroundPush::finish()
{
    if (!thread_.joinable())
        return true;
    bool ended = false;
    {
        std::unique_lock<std::mutex> hold(shared_->mutex);
        shared_->stopping = true;
        shared_->requested = true;
        shared_->wake.notify_all();
        const auto limit = std::chrono::duration<double>(shared_->settings.deadlineSeconds + kGraceSeconds);
        ended = shared_->wake.wait_for(hold, limit, [this] { return shared_->ended; });
    }
    if (ended)
        thread_.join();
    else
        thread_.detach();
    return ended;
}

void BackgroundPush::work(const std::shared_ptr<Shared> &shared)
{
    std::unique_lock<std::mutex> hold(shared->mutex);
    for (;;) {
        shared->wake.wait_for(hold, std::chrono::duration<double>(kEverySeconds), [&] { return shared->requested; });
        shared->requested = false;
        const bool last = shared->stopping;
        hold.unlock();
        pushOnce(*shared);
        hold.lock();
        if (last)
            break;
    }
    shared->ended = true;
    shared->wake.notify_all();
}

void BackgroundPush::pushOnce(Shared &shared)
{
    if (!QFileInfo::exists(shared.historyPath))
        return;  // nothing recorded yet
    PushOutcome outcome;
    {
        HistoryStore local(HistoryStore::Access::Write, shared.historyPath);
        outcome = pushHistory(local, shared.server, shared.settings);
    }
    const bool tellIt = outcome.done() ? shared.failing : !shared.failing;
    shared.failing = !outcome.done();
    if (tellIt && shared.tell)
        shared.tell(outcome.describe(shared.server));
}
