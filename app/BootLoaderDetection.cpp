// Looking for a meter already waiting in its boot loader, port by port.
#include "app/frmFwUpMain.h"
#include "base/Prompts.h"
#include <QAction>
#include <QLabel>

void frmFwUpMain::Check_Boot()
{
    lblInfo->setVisible(true);
    lblTitle->setVisible(true);
    int foundOn = 0;
    while (!Meter_Connected && foundOn == 0) {
        for (int n = 1; n <= PortMap::kPortCount && foundOn == 0; ++n) {
            if (!g.Port_Present[n])
                continue;
            g.Port_Menu_Index = static_cast<std::int16_t>(n);
            bool acknowledged = false;
            link_.probeBootAt(static_cast<std::int16_t>(n), acknowledged);
            if (acknowledged)
                foundOn = n;
        }
        if (foundOn || Meter_Connected)
            break;
        lblInfo->setText(QStringLiteral("No Hardware Detected"));
        const MsgAnswer answer = prompts_.MsgBox(Questions::noHardwareDetected());
        if (answer != MsgAnswer::Retry) {
            g.Port_Menu_Index = 0;
            meter().Port_Number = 0;
            break;
        }
    }
    if (foundOn) {
        Meter_Connected = true;
        meter().Boot_Mode = true;
        g.Port_Menu_Index = static_cast<std::int16_t>(foundOn);
        mnuSourcePortComm[g.Port_Menu_Index]->setChecked(true);
        lblFirm->setText(QStringLiteral("Unknown"));
        lblhard->setText(QStringLiteral("Unknown"));
        Label4->setVisible(true);
        Label2->setVisible(true);
    }
    lblInfo->setVisible(false);
    lblTitle->setVisible(false);
}
