#include "app/frmFwUpMain.h"
#include "base/EventWait.h"
#include "upgrade/AttemptRecorder.h"
#include "windows/frmDevInfo.h"
#include <QAction>
#include <QCloseEvent>
#include <QEventLoop>
#include <QPushButton>
#include <QToolButton>

frmFwUpMain::frmFwUpMain(FwUpGlobals &globals, const FwUpServices &services, QWidget *parent)
    : QMainWindow(parent), g(globals), Comm1(services.comm), prompts_(services.prompts),
      link_(services.comm, services.prompts, *this), appDir_(services.appDir),
      chipId_(services.chipId), opener_(services.opener)
{
    setObjectName(QStringLiteral("frmFwUpMain"));
    buildControls();
    // The only handled events; the Port items, labels and progress bar have none.
    connect(cmdExit, &QToolButton::clicked, this, &frmFwUpMain::cmdExit_Click);
    connect(mnuExit, &QAction::triggered, this, &frmFwUpMain::mnuExit_Click);
    connect(cmdConnect, &QPushButton::clicked, this, &frmFwUpMain::cmdConnect_Click);
    connect(cmdUpgrade, &QPushButton::clicked, this, &frmFwUpMain::cmdUpgrade_Click);
    connect(mnuDeviceInfo, &QAction::triggered, this, &frmFwUpMain::mnuDeviceInfo_Click);
    connect(mnuhelpAbout, &QAction::triggered, this, &frmFwUpMain::mnuhelpAbout_Click);
    connect(mnuHelpHelp, &QAction::triggered, this, &frmFwUpMain::mnuHelpHelp_Click);
}

frmFwUpMain::~frmFwUpMain() = default;

void frmFwUpMain::Form_Load()
{
    g.App_Path = appDir_;
    g.First_Activate = true;
    Meter_Connected = false;
    EventWait::yieldOnce();
    Init_Ports();
}

void frmFwUpMain::Form_Activate()
{
    EventWait::yieldOnce();
    if (!g.First_Activate)
        return;
    g.First_Activate = false;
    if (g.Quit_Request)
        return;
    runMainLoop();
    link_.Com_Close();
}

void frmFwUpMain::runMainLoop()
{
    // The loop sleeps until the next event. A quit request made inside a
    // nested wait only marks this loop for exit; it ends once the handler
    // that made the request has returned here.
    QEventLoop loop;
    mainLoop_ = &loop;
    EventWait::yieldOnce();
    if (!g.Quit_Request)
        loop.exec();
    mainLoop_ = nullptr;
}

void frmFwUpMain::requestQuit()
{
    g.Quit_Request = true;
    if (mainLoop_)
        mainLoop_->exit();
}

void frmFwUpMain::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    // The first activation is not awaited: start-up runs the main loop itself,
    // so a desktop that never activates the window still gets a working tool.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && !g.First_Activate)
        Form_Activate();
}

void frmFwUpMain::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    event->accept();
}

void frmFwUpMain::Form_QueryUnload()
{
    // Open files are closed first: an upgrade in progress then fails at its
    // next read and reports it before the program ends.
    if (upgrade_)
        upgrade_->closeFile();
    cmdExit_Click();
}

void frmFwUpMain::cmdExit_Click()
{
    Save_Config();  // a failure has already been reported by its own message
    requestQuit();
}

void frmFwUpMain::mnuExit_Click()
{
    requestQuit();
}
