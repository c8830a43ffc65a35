// The Connect / Disconnect button.
#include "app/Prompts.h"
#include "app/frmFwUpMain.h"
#include <QLabel>
#include <QPushButton>

namespace {
const QString kConnectCaption = QStringLiteral("Connect");
const QString kDisconnectCaption = QStringLiteral("Disconnect");
const QString kNoMeterText = QStringLiteral(
    "No meter detected\r\n"
    "Retry - First check meter is connected and turned on.\r\n"
    "Ignore - If meter is already in upgrade mode (permanent red LED).\r\n"
    "Otherwise - Abort");
}

void frmFwUpMain::cmdConnect_Click()
{
    cmdConnect->setEnabled(false);
    g.Model_Code = QStringLiteral("*");
    g.Boot_Mode = false;
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
        for (int n = 1; n <= FwUpGlobals::kPortCount && !Meter_Connected; ++n) {
            if (!g.Port_Present[n])
                continue;
            g.Port_Menu_Index = g.Port_Number = static_cast<std::int16_t>(n);
            bool found = false;
            Check_Version(found);
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
        const MsgAnswer answer =
            prompts_.MsgBox(kNoMeterText, MsgStyle::AbortRetryIgnore + MsgStyle::Critical, kSearchTitle);
        if (answer == MsgAnswer::Retry) {
            lblInfo->setVisible(true);
            lblTitle->setVisible(true);
            continue;
        }
        if (answer == MsgAnswer::Ignore)
            Check_Boot();
        else {
            g.Port_Menu_Index = 0;
            g.Port_Number = 0;
        }
        break;
    }
    if (!Meter_Connected)
        return;
    cmdConnect->setText(kDisconnectCaption);
    cmdUpgrade->setEnabled(true);
    cmdUpgrade->setFocus();
    Com_Close();
    Com_Open();
}

void frmFwUpMain::disconnectFromMeter()
{
    Meter_Connected = false;
    Com_Close();
    lblFirm->clear();
    lblBoot->clear();
    lblhard->clear();
    Label4->setVisible(false);
    Label2->setVisible(false);
    cmdConnect->setText(kConnectCaption);
    cmdUpgrade->setEnabled(false);
}
