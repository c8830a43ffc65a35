#include "base/FwUpErrors.h"
#include "app/frmFwUpMain.h"
#include "link/CommPort.h"
#include <QAction>

void frmFwUpMain::Init_Ports()
{
    // Every failure while probing port n marks port n absent; nothing is shown.
    try {
        link_.Com_Close();
    } catch (const FwUpError &) {
    }
    g.Port_Present[0] = false;
    for (int n = 1; n <= FwUpGlobals::kPortCount; ++n) {
        g.Port_Present[n] = true;
        try {
            Comm1.setCommPort(n);
            Comm1.setPortOpen(true);
        } catch (const FwUpError &) {
            g.Port_Present[n] = false;
        }
        try {
            Comm1.setPortOpen(false);
        } catch (const FwUpError &) {
            g.Port_Present[n] = false;
        }
    }

    mnuSourcePortComm[0]->setVisible(true);
    for (int n = 1; n <= FwUpGlobals::kPortCount; ++n) {
        QAction *item = mnuSourcePortComm[n];
        if (g.Port_Present[n]) {
            item->setText(QStringLiteral("Comm%1:").arg(n));
            item->setVisible(true);
            item->setEnabled(false);
            mnuSourcePortComm[0]->setVisible(false);
            item->setChecked(false);
        } else {
            item->setVisible(false);
        }
    }
}
