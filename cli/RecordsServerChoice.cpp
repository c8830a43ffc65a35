#include "cli/RecordsServerChoice.h"
#include "cli/Console.h"
#include "history/HistoryStore.h"
#include <cstdio>
#include <cstdlib>

std::optional<RecordsServerAddress> RecordsServerChoice::chosen(const QString &option, const QString &profileServer,
                                                                QString &why)
{
    QString text = option, source = QStringLiteral("--server");
    if (text.isEmpty()) {
        text = profileServer;
        source = QStringLiteral("the profile's [records] server");
    }
    if (text.isEmpty()) {
        text = qEnvironmentVariable(RecordsServerAddress::kEnvironmentVariable);
        source = QString::fromLatin1(RecordsServerAddress::kEnvironmentVariable);
    }
    why.clear();
    if (text.isEmpty())
        return std::nullopt;
    QString problem;
    std::optional<RecordsServerAddress> server = RecordsServerAddress::parse(text, problem);
    if (!server)
        why = QStringLiteral("%1: %2").arg(source, problem);
    return server;
}

std::unique_ptr<BackgroundPush> RecordsServerChoice::startPushing(const QString &profileServer)
{
    QString why;
    const std::optional<RecordsServerAddress> server = chosen({}, profileServer, why);
    if (!server) {
        if (!why.isEmpty())
            Console::err(QStringLiteral("ovfw: records are not pushed: %1\n").arg(why));
        return nullptr;
    }
    return std::make_unique<BackgroundPush>(*server, HistoryStore::defaultPath(), PushSettings::fromEnvironment(),
                                            [](const QString &line) { Console::err(QStringLiteral("ovfw: %1\n").arg(line)); });
}

void RecordsServerChoice::finishPushing(std::unique_ptr<BackgroundPush> &push, int exitStatus)
{
    if (!push || push->finish())
        return;
    Console::err(QStringLiteral("ovfw: the records server did not answer in time; the rows wait for the next push\n"));
    std::fflush(nullptr);
    // The push is stuck where no deadline reaches it; nothing of this
    // process waits for it, and the local history is complete.
    std::_Exit(exitStatus);
}
