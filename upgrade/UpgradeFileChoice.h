#pragma once
#include <QString>
#include <optional>

class Prompts;

// The open dialog that asks the user for the upgrade file: its title, and the
// name it offers (the one chosen the time before).
struct FileDialogRequest {
    QString title;
    QString offeredName;
};

// Asks for the upgrade file, its filter made for the meter's model; nothing
// when the user cancels.
std::optional<QString> askForUpgradeFile(Prompts &prompts, const FileDialogRequest &dialog, const QString &meterModel);
