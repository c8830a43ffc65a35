#pragma once
#include "records/BackgroundPush.h"
#include "records/RecordsServerAddress.h"
#include <QString>
#include <memory>
#include <optional>

// Which records server a command uses, and the automatic push to it.
namespace RecordsServerChoice {
// The server named by --server, else by a station profile's [records]
// server, else by OVFW_HISTORY_SERVER. nullopt with `why` empty when none is
// named; with `why` set when the one named cannot be used (its reason,
// prefixed with where it was named).
std::optional<RecordsServerAddress> chosen(const QString &option, const QString &profileServer, QString &why);

// A background push to the chosen server, or none when none is named. A
// server that cannot be used is said once on standard error, and the
// command goes on without it.
std::unique_ptr<BackgroundPush> startPushing(const QString &profileServer);
// The last push, waited for at most its deadline (and a little grace); a
// push still hanging after that is left behind and the process ends with
// `exitStatus` at once.
void finishPushing(std::unique_ptr<BackgroundPush> &push, int exitStatus);
}
