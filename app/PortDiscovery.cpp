#include "base/FwUpErrors.h"
#include "app/frmFwUpMain.h"
#include "link/CommPort.h"
#include "link/PortStatus.h"
#include "link/QtCommPort.h"
#include <QAction>
#include <QSet>
#include <cstdio>

namespace {
// Says on standard error why port n is absent, once per port, device and
// reason while the program runs: the discovery runs at every Connect. A
// missing device is news only for a port OVFW_PORTS names; the default map
// names sixteen devices that are rarely all there.
void noteAbsentPort(const QtCommPort &port, int n)
{
    const PortState state = port.openState();
    if (state == PortState::Present || (state == PortState::Missing && !port.portMap().isListed(n)))
        return;
    static QSet<QString> noted;
    const QString note = portStateNote(n, port.portMap().deviceFor(n), state);
    if (noted.contains(note))
        return;
    noted.insert(note);
    std::fprintf(stderr, "%s\n", qPrintable(note));
    std::fflush(stderr);
}
}

void frmFwUpMain::Init_Ports()
{
    // Every failure while probing port n marks port n absent; nothing is shown
    // in the window, and the reason goes to standard error.
    try {
        link_.Com_Close();
    } catch (const FwUpError &) {
    }
    const auto *port = qobject_cast<const QtCommPort *>(&Comm1);
    g.Port_Present[0] = false;
    for (int n = 1; n <= PortMap::kPortCount; ++n) {
        g.Port_Present[n] = link_.portOpens(n);
        if (!g.Port_Present[n] && port)
            noteAbsentPort(*port, n);
    }

    mnuSourcePortComm[0]->setVisible(true);
    for (int n = 1; n <= PortMap::kPortCount; ++n) {
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
