// The Upgrade button: one whole upgrade of the connected meter, and what the
// upgrade shows in the window while it runs.
#include "app/frmFwUpMain.h"
#include "upgrade/AttemptRecorder.h"
#include "upgrade/UpgradeFileChoice.h"
#include "upgrade/UpgradeImage.h"
#include "link/CommPort.h"
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace {
const QString kUpgradingHeading = QStringLiteral("Upgrading to Version");
const QString kRestoredHeading = QStringLiteral("Firmware Version");  // no colon
const QString kFileDialogTitle = QStringLiteral("Select Upgrade File");
}

void frmFwUpMain::cmdUpgrade_Click()
{
    cmdConnect->setEnabled(false);
    cmdUpgrade->setEnabled(false);
    cmdExit->setEnabled(false);
    link_.Com_Open();
    const std::optional<QString> chosen =
        askForUpgradeFile(prompts_, FileDialogRequest{kFileDialogTitle, cdlFileName_}, meter().Model_Code);
    if (!chosen) {
        stayConnected();  // Cancel: nothing was attempted
        return;
    }
    cdlFileName_ = *chosen;  // offered again next time
    // The file is read from the program's folder as the current one.
    if (!g.App_Path.isEmpty())
        QDir::setCurrent(g.App_Path);
    const auto image = std::make_shared<const UpgradeImage>(*chosen);
    history_ = std::make_unique<AttemptRecorder>(QStringLiteral("window"),
                                                 MeterAddress::port(meter().Port_Number, Comm1.deviceName()));
    UpgradeEvents &shown = *this;  // the window shows what the upgrade says
    upgrade_ = std::make_unique<UpgradeRun>(link_, prompts_, shown);
    const UpgradeResult result = upgrade_->run(image);
    upgrade_.reset();
    sleepLock_.release();  // however the transfer ended
    history_->finished(meter(), result, cdlFileName_);
    history_.reset();
    if (result.outcome == UpgradeOutcome::Failed || result.outcome == UpgradeOutcome::FileRefused) {
        stayConnected();  // reported already
        return;
    }
    returnToDisconnected();
}

// The meter stays connected for another try.
void frmFwUpMain::stayConnected()
{
    cmdConnect->setEnabled(true);
    cmdUpgrade->setEnabled(true);
    cmdExit->setEnabled(true);
}

// As Disconnect, and also the heading without its colon and Exit enabled.
void frmFwUpMain::returnToDisconnected()
{
    disconnectFromMeter();
    Label2->setText(kRestoredHeading);
    cmdConnect->setEnabled(true);
    cmdExit->setEnabled(true);
}

void frmFwUpMain::versionAnnounced(const QString &versionText)
{
    Label2->setText(kUpgradingHeading);
    lblFirm->setText(versionText);
    Label2->setVisible(true);
}

void frmFwUpMain::meterChanging(const QString &filePath, const UpgradeImage &checked)
{
    if (!history_)
        return;
    history_->setFile(checked.facts());
    history_->started(meter(), filePath);
}

void frmFwUpMain::progressShown(const UpgradeProgress &progress)
{
    sleepLock_.acquire();
    pbUpgrade->setRange(0, UpgradeProgress::kWidgetSteps);
    pbUpgrade->setValue(progress.widgetStep());
    pbUpgrade->setVisible(true);
}

void frmFwUpMain::progressAdvanced(const UpgradeProgress &progress)
{
    pbUpgrade->setValue(progress.widgetStep());
    if (history_)
        history_->progressed(progress.linesRead - 1);  // the line counted goes out next
}

void frmFwUpMain::headingRestored()
{
    sleepLock_.release();  // the transfer has ended
    Label2->setText(kRestoredHeading);
    lblFirm->clear();
}

void frmFwUpMain::progressHidden()
{
    pbUpgrade->setVisible(false);
}
