// The Connect / Disconnect button, and what the meter link reports while it
// searches.
#include "app/frmFwUpMain.h"
#include "base/Prompts.h"
#include <QAction>
#include <QLabel>
#include <QPushButton>

void frmFwUpMain::cmdConnect_Click()
{
    cmdConnect->setEnabled(false);
    meter().Model_Code = MeterState::kAnyModel;
    meter().Boot_Mode = false;
    cmdUpgrade->setEnabled(false);
    lblTitle->setText(QStringLiteral("Searching for meter"));
    const QString caption = cmdConnect->text();
    if (caption == kConnectCaption)
        connectToMeter();
    else if (caption == kDisconnectCaption)
        disconnectFromMeter();
    cmdConnect->setEnabled(true);
}

void frmFwUpMain::connectToMeter()
{
    Init_Ports();
    lblInfo->setVisible(true);
    lblTitle->setVisible(true);
    lblInfo->setText(QStringLiteral("Establishing connection to meter"));
    while (!Meter_Connected) {
        Init_Ports();
        for (int n = 1; n <= PortMap::kPortCount && !Meter_Connected; ++n) {
            if (!g.Port_Present[n])
                continue;
            g.Port_Menu_Index = static_cast<std::int16_t>(n);
            bool found = false;
            link_.Check_Version(static_cast<std::int16_t>(n), found);
            if (found) {
                Meter_Connected = true;
                lblInfo->setVisible(false);
                lblTitle->setVisible(false);
            }
        }
        if (Meter_Connected)
            break;
        lblInfo->setVisible(false);
        lblTitle->setVisible(false);
        const MsgAnswer answer = prompts_.MsgBox(Questions::noMeterDetected());
        if (answer == MsgAnswer::Retry) {
            lblInfo->setVisible(true);
            lblTitle->setVisible(true);
            continue;
        }
        if (answer == MsgAnswer::Ignore)
            Check_Boot();
        else {
            g.Port_Menu_Index = 0;
            meter().Port_Number = 0;
        }
        break;
    }
    if (!Meter_Connected)
        return;
    cmdConnect->setText(kDisconnectCaption);
    cmdUpgrade->setEnabled(true);
    cmdUpgrade->setFocus();
    link_.Com_Close();
    link_.Com_Open();
}

void frmFwUpMain::disconnectFromMeter()
{
    Meter_Connected = false;
    link_.Com_Close();
    lblFirm->clear();
    lblBoot->clear();
    lblhard->clear();
    Label4->setVisible(false);
    Label2->setVisible(false);
    cmdConnect->setText(kConnectCaption);
    cmdUpgrade->setEnabled(false);
}

QString frmFwUpMain::checkingPortCaption(int portNumber)
{
    return QStringLiteral("Checking Port %1 for Hardware").arg(portNumber);
}

void frmFwUpMain::portChecking(int portNumber)
{
    lblInfo->setText(checkingPortCaption(portNumber));
}

void frmFwUpMain::identityRead()
{
    lblFirm->setText(meter().Firm_Version);
    lblBoot->setText(meter().Boot_Version);
    lblhard->setText(meter().Meter_Serial);
    Label4->setVisible(true);
    Label2->setVisible(true);
    mnuSourcePortComm[g.Port_Menu_Index]->setChecked(true);
}

void frmFwUpMain::bootPortChecking(int portNumber)
{
    lblTitle->setText(QStringLiteral("Searching for meter in Boot mode"));
    lblInfo->setText(checkingPortCaption(portNumber));
}

void frmFwUpMain::quitRequested()
{
    requestQuit();
}
