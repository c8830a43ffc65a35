// ovfw built without the records-server client (OVFW_RECORDS_CLIENT off, as
// where there is no libpq): `history push`, `history init-server` and
// `history --server` say so and fail as a push does that cannot reach the
// server; `upgrade` and `station` say it once, and their rows wait in the
// local history for a build that has the client.
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/RecordsClient.h"

namespace {
const QString kNoClient = QStringLiteral("this build has no records-server client");
// As the client reads it (RecordsServerAddress::kEnvironmentVariable).
constexpr const char *kServerVariable = "OVFW_HISTORY_SERVER";
}

int runHistoryPush(const QStringList &)
{
    Console::err(QStringLiteral("ovfw history push: %1; the rows wait in the local history\n").arg(kNoClient));
    return ExitStatus::PushFailed;
}

int runHistoryInitServer(const QStringList &)
{
    Console::err(QStringLiteral("ovfw history init-server: %1\n").arg(kNoClient));
    return ExitStatus::PushFailed;
}

QString RecordsClient::serverProblem(const QString &, const QString &)
{
    return {};  // nothing is checked where nothing is sent
}

bool RecordsClient::forEachOnServer(const QString &, const HistoryFilter &,
                                    const std::function<void(const AttemptRecord &)> &, QString &problem)
{
    problem = kNoClient;
    return false;
}

struct RecordsPushing::Running {};

RecordsPushing::RecordsPushing(const QString &profileServer)
{
    if (!profileServer.isEmpty() || !qEnvironmentVariableIsEmpty(kServerVariable))
        Console::err(QStringLiteral("ovfw: records are not pushed: %1; the rows wait in the local history\n")
                         .arg(kNoClient));
}

RecordsPushing::~RecordsPushing() = default;

void RecordsPushing::request() {}

void RecordsPushing::finish(int) {}
