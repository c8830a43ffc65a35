// The Upgrade button: one whole upgrade of the connected meter, and what the
// upgrade shows in the window while it runs.
#include "app/frmFwUpMain.h"
#include "upgrade/AttemptRecorder.h"
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
    AttemptRecorder history(QStringLiteral("window"), MeterAddress::port(meter().Port_Number, Comm1.deviceName()));
    history_ = &history;
    UpgradeRun upgrade(link_, prompts_, *this, upgradeFile_);
    const UpgradeResult result = upgrade.run(FileDialogRequest{kFileDialogTitle, cdlFileName_});
    if (!result.filePath.isEmpty())
        cdlFileName_ = result.filePath;  // offered again next time
    sleepLock_.release();  // however the transfer ended
    history.finished(meter(), result, cdlFileName_);
    history_ = nullptr;
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

void frmFwUpMain::meterChanging(const QString &filePath, const CheckedFile &checked)
{
    if (!history_)
        return;
    history_->setFile(FileFacts::of(filePath, checked));
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

void frmFwUpMain::fileOpening()
{
    if (!g.App_Path.isEmpty())
        QDir::setCurrent(g.App_Path);
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
