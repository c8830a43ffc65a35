#pragma once
#include "app/FwUpGlobals.h"
#include <QMainWindow>
#include <QPointer>
#include <array>
#include <cstdint>
#include <memory>

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

// The main window. Its procedures are grouped by subsystem: start-up, menus
// and quitting here and in app/; port handling and waits in link/.
class frmFwUpMain : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidthTwips = 6135;
    static constexpr int kClientHeightTwips = 2865;
    static constexpr double kTickSeconds = 0.054;  // unit of TDelay
    static constexpr int kTicksPerSecond = 18;     // SDelay's nominal second: 0.972 s
    static inline const QString kCaption = QStringLiteral("orvane  Firmware Upgrade");
    static inline const QString kLineSettings = QStringLiteral("9600,n,8,1");
    static constexpr int kInBufferBytes = 100;
    static inline const QString kConfigFileName = QStringLiteral("ra_zezidev.cfg");
    static inline const QString kUserGuideFileName = QStringLiteral("Upgrade User Guide V100.pdf");
    static inline const QString kSearchTitle = QStringLiteral("ov Firmware Upgrade ");
    static inline const QByteArray kUpgradeModeCommand = QByteArrayLiteral("\xC2\xD4\r");

    frmFwUpMain(FwUpGlobals &globals, FwUpServices services, QWidget *parent = nullptr);
    ~frmFwUpMain() override;

    // Start-up and main loop.
    void Form_Load();
    void Form_Activate();
    void Form_QueryUnload();

    // Handlers.
    void cmdExit_Click();
    void mnuExit_Click();
    void cmdConnect_Click();
    void mnuDeviceInfo_Click();
    void mnuhelpAbout_Click();
    void mnuHelpHelp_Click();

    // Port discovery and the session file.
    void Init_Ports();
    bool Save_Config();
    bool Load_Config();

    // The serial port and the waits.
    void Com_Open();
    void Com_Close();
    void TDelay(double ticks);
    void SDelay(const std::int16_t &seconds);

    // Finding the meter.
    void Check_Version(bool &found);
    void Com_Input_Vers(bool &valid);
    void Check_Boot();
    void Acknowledge(bool &accepted);

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
    std::array<QAction *, FwUpGlobals::kPortCount + 1> mnuSourcePortComm{};
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

    CommPort &Comm1;
    Prompts &prompts_;
    QString appDir_;
    ChipIdLibrary &chipId_;
    DocumentOpener &opener_;
    std::unique_ptr<frmDevInfo> devInfo_;  // created on first use, kept for the run
    QEventLoop *mainLoop_ = nullptr;
};
