// The Upgrade button: one whole upgrade of the connected meter, and what the
// upgrade shows in the window while it runs.
#include "app/frmFwUpMain.h"
#include <QDir>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

namespace {
const QString kUpgradingHeading = QStringLiteral("Upgrading to Version");
const QString kRestoredHeading = QStringLiteral("Firmware Version");  // no colon
}

void frmFwUpMain::cmdUpgrade_Click()
{
    cmdConnect->setEnabled(false);
    cmdUpgrade->setEnabled(false);
    cmdExit->setEnabled(false);
    link_.Com_Open();
    UpgradeRun upgrade(link_, prompts_, *this, upgradeFile_);
    const UpgradeResult result = upgrade.run(cdlFileName_);
    if (result.outcome == UpgradeOutcome::Failed || result.outcome == UpgradeOutcome::FileRefused) {
        // Reported already; the meter stays connected for another try.
        cmdConnect->setEnabled(true);
        cmdUpgrade->setEnabled(true);
        cmdExit->setEnabled(true);
        return;
    }
    returnToDisconnected();
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

void frmFwUpMain::progressShown(const UpgradeProgress &progress)
{
    pbUpgrade->setRange(0, UpgradeProgress::kWidgetSteps);
    pbUpgrade->setValue(progress.widgetStep());
    pbUpgrade->setVisible(true);
}

void frmFwUpMain::progressAdvanced(const UpgradeProgress &progress)
{
    pbUpgrade->setValue(progress.widgetStep());
}

void frmFwUpMain::fileOpening()
{
    if (!g.App_Path.isEmpty())
        QDir::setCurrent(g.App_Path);
}

void frmFwUpMain::headingRestored()
{
    Label2->setText(kRestoredHeading);
    lblFirm->clear();
}

void frmFwUpMain::progressHidden()
{
    pbUpgrade->setVisible(false);
}
