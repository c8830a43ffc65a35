#pragma once
#include "app/FwUpGlobals.h"
#include "link/MeterLink.h"
#include "base/AppFacts.h"
#include "power/SleepInhibitor.h"
#include "upgrade/UpgradeRun.h"
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <memory>

class AttemptRecorder;
class ChipIdLibrary;
class CommPort;
class DocumentOpener;
class Prompts;
class frmDevInfo;
class QAction;
class QEventLoop;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;

// What the main window works through: the serial port, the user's answers,
// the folder the program runs from, the adapters' chip-ID library and the
// desktop's document viewer.
struct FwUpServices {
    CommPort &comm;
    Prompts &prompts;
    QString appDir;  // the program's folder (App_Path)
    ChipIdLibrary &chipId;
    DocumentOpener &opener;
};

// The main window: its controls and menus, and the handlers that turn the
// meter link's steps into captions, check marks and message boxes. The
// conversation with the meter itself lives in link/ (MeterLink).
class frmFwUpMain : public QMainWindow, private LinkEvents, private UpgradeEvents {
    Q_OBJECT
public:
    static constexpr int kClientWidthTwips = 6135;
    static constexpr int kClientHeightTwips = 2865;
    static inline const QString kCaption = QStringLiteral("orvane  Firmware Upgrade");
    static inline const QString kConfigFileName = QStringLiteral("ra_zezidev.cfg");
    // When set, names the folder the session file is written to instead of
    // the program's own (an installed program's folder is not the user's).
    static constexpr const char *kSessionDirVariable = "OVFW_SESSION_DIR";
    static inline const QString kUserGuideFileName = QStringLiteral("Upgrade User Guide V100.pdf");
    static inline const QString kConnectCaption = QStringLiteral("Connect");
    static inline const QString kDisconnectCaption = QStringLiteral("Disconnect");

    frmFwUpMain(FwUpGlobals &globals, const FwUpServices &services, QWidget *parent = nullptr);
    ~frmFwUpMain() override;

    // Start-up and main loop.
    void Form_Load();
    void Form_Activate();
    void Form_QueryUnload();

    // Handlers.
    void cmdExit_Click();
    void mnuExit_Click();
    void cmdConnect_Click();
    void cmdUpgrade_Click();
    void mnuDeviceInfo_Click();
    void mnuhelpAbout_Click();
    void mnuHelpHelp_Click();

    // Port discovery and the session file.
    void Init_Ports();
    bool Save_Config();
    bool Load_Config();

    // Finding a meter already in its boot loader, port by port.
    void Check_Boot();

    // The conversation with the meter on the port in use, and what is known
    // of that meter.
    MeterLink &link() { return link_; }
    MeterState &meter() { return link_.meter(); }

    // Sets Quit_Request; the main loop acts on it once the running handler
    // has returned to it.
    void requestQuit();
    bool mainLoopRunning() const { return mainLoop_ != nullptr; }

    FwUpGlobals &g;
    bool Meter_Connected = false;

    // Controls, in tab-index order.
    QToolButton *cmdExit = nullptr;
    QLabel *lblhard = nullptr;
    QLabel *lblBoot = nullptr;
    QLabel *lblFirm = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *cmdConnect = nullptr;
    QPushButton *cmdUpgrade = nullptr;
    QProgressBar *pbUpgrade = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblInfo = nullptr;

    // Menus.
    QMenu *mnuFile = nullptr;
    QAction *mnuExit = nullptr;
    QMenu *mnuSourcePort = nullptr;
    std::array<QAction *, PortMap::kPortCount + 1> mnuSourcePortComm{};
    QMenu *mnuTools = nullptr;
    QAction *mnuDeviceInfo = nullptr;
    QMenu *mnuhelp = nullptr;
    QAction *mnuhelpAbout = nullptr;
    QAction *mnuHelpHelp = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void runMainLoop();
    void connectToMeter();
    void disconnectFromMeter();
    static QString checkingPortCaption(int portNumber);

    // What the meter link reports.
    void portChecking(int portNumber) override;
    void identityRead() override;
    void bootPortChecking(int portNumber) override;
    void quitRequested() override;

    // What an upgrade shows.
    void versionAnnounced(const QString &versionText) override;
    void meterChanging(const QString &filePath, const UpgradeImage &checked) override;
    void progressShown(const UpgradeProgress &progress) override;
    void progressAdvanced(const UpgradeProgress &progress) override;
    void headingRestored() override;
    void progressHidden() override;
    void returnToDisconnected();
    void stayConnected();

    CommPort &Comm1;
    Prompts &prompts_;
    MeterLink link_;
    SleepInhibitor sleepLock_{FwUpApp::Title};  // held while the lines go out
    QString cdlFileName_;      // the upgrade dialog's file name, offered again
    QString appDir_;
    ChipIdLibrary &chipId_;
    DocumentOpener &opener_;
    std::unique_ptr<frmDevInfo> devInfo_;  // created on first use, kept for the run
    QEventLoop *mainLoop_ = nullptr;
    // While an upgrade runs: the run (closing the window closes its file),
    // and its attempt's row in the history.
    std::unique_ptr<UpgradeRun> upgrade_;
    std::unique_ptr<AttemptRecorder> history_;
};
