#include "upgrade/UpgradeFileChoice.h"
#include "base/Prompts.h"
#include "upgrade/UpgradeFileName.h"

std::optional<QString> askForUpgradeFile(Prompts &prompts, const FileDialogRequest &dialog, const QString &meterModel)
{
    return prompts.ShowOpen(dialog.title, UpgradeFileName::dialogFilter(meterModel), dialog.offeredName);
}
