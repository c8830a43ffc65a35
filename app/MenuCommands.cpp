// The side windows and the user guide, from the main window's menus.
#include "app/DocumentOpener.h"
#include "app/frmFwUpMain.h"
#include "windows/frmDevInfo.h"
#include "windows/frmFwUpAbout.h"

void frmFwUpMain::mnuDeviceInfo_Click()
{
    if (!devInfo_)
        devInfo_ = std::make_unique<frmDevInfo>(chipId_, this);
    devInfo_->showModal();
}

void frmFwUpMain::mnuhelpAbout_Click()
{
    frmFwUpAbout about(this);
    about.exec();
}

void frmFwUpMain::mnuHelpHelp_Click()
{
    opener_.openDocument(appDir_ + QStringLiteral("/") + kUserGuideFileName);
}
