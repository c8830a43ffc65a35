#include "cli/RecordsClient.h"
#include "cli/RecordsServerChoice.h"
#include "records/RecordsSession.h"
#include "records/ServerHistoryQuery.h"

namespace {
constexpr double kServerReadDeadlineSeconds = 30;  // a long read from a distant server
}

QString RecordsClient::serverProblem(const QString &option, const QString &profileServer)
{
    QString why;
    RecordsServerChoice::chosen(option, profileServer, why);
    return why;
}

bool RecordsClient::forEachOnServer(const QString &url, const HistoryFilter &filter,
                                    const std::function<void(const AttemptRecord &)> &row, QString &problem)
{
    const std::optional<RecordsServerAddress> server = RecordsServerChoice::chosen(url, {}, problem);
    if (!server)
        return false;
    RecordsSession session(*server, kServerReadDeadlineSeconds);
    const bool ok = ServerHistoryQuery::forEach(session, filter, row, problem);
    if (!ok)
        problem = QStringLiteral("%1: %2").arg(server->given, problem);
    return ok;
}

struct RecordsPushing::Running {
    std::unique_ptr<BackgroundPush> push;
};

RecordsPushing::RecordsPushing(const QString &profileServer)
{
    std::unique_ptr<BackgroundPush> push = RecordsServerChoice::startPushing(profileServer);
    if (push)
        running_.reset(new Running{std::move(push)});
}

RecordsPushing::~RecordsPushing() = default;

void RecordsPushing::request()
{
    if (running_)
        running_->push->request();
}

void RecordsPushing::finish(int exitStatus)
{
    if (running_)
        RecordsServerChoice::finishPushing(running_->push, exitStatus);
}
