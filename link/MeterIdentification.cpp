// Finding a meter in normal mode on port Port_Number: quiet it, then ask for
// its version reply.
#include "app/FwUpErrors.h"
#include "app/frmFwUpMain.h"
#include "link/CommPort.h"
#include "link/EventWait.h"
#include "link/MonotonicClock.h"
#include "link/VersionReply.h"
#include <QAction>
#include <QLabel>
#include <cmath>

namespace {
const QByteArray kCarriageReturn = QByteArrayLiteral("\r");
const QByteArray kQuietCommand = QByteArrayLiteral("H\r");
const QByteArray kVersionRequest = QByteArrayLiteral("V\r");
constexpr double kSilenceLimitSeconds = 2.0;  // from the first quiet command
constexpr double kReplyWaitSeconds = 0.5;
constexpr double kReplyReadSeconds = 0.2;
}

QString frmFwUpMain::checkingPortCaption(int portNumber)
{
    return QStringLiteral("Checking Port %1 for Hardware").arg(portNumber);
}

void frmFwUpMain::Check_Version(bool &found)
{
    found = false;
    lblInfo->setText(checkingPortCaption(g.Port_Number));
    Com_Close();
    Com_Open();
    try {
        Comm1.output(kCarriageReturn);
        SDelay(1);
        const double t0 = MonotonicClock::now();
        bool silent = true;
        Comm1.output(kQuietCommand);
        TDelay(2);
        Comm1.output(kQuietCommand);
        while (Comm1.inBufferCount() > 0) {
            Comm1.output(kQuietCommand);
            TDelay(5);
            do {
                Comm1.input();
            } while (Comm1.inBufferCount() > 0);
            TDelay(10);
            if (t0 + kSilenceLimitSeconds < MonotonicClock::now()) {
                silent = false;
                break;
            }
        }
        if (!silent) {
            Com_Close();
            return;
        }
        bool valid = false;
        Com_Input_Vers(valid);
        if (!valid)
            return;  // the port stays open; the next probe closes it
    } catch (const FwUpError &) {
        return;  // the port could not be opened: no reply
    }
    lblFirm->setText(g.Firm_Version);
    lblBoot->setText(g.Boot_Version);
    lblhard->setText(g.Meter_Serial);
    Label4->setVisible(true);
    Label2->setVisible(true);
    found = true;
    mnuSourcePortComm[g.Port_Menu_Index]->setChecked(true);
}

void frmFwUpMain::Com_Input_Vers(bool &valid)
{
    Comm1.output(kVersionRequest);
    EventWait::sleepFor(kReplyWaitSeconds);

    // The reply is read without serving the window: at most 0.2 s, or up to
    // its carriage return. Anything after that stays for later.
    QByteArray received;
    char last = 0;
    const double end = MonotonicClock::now() + kReplyReadSeconds;
    for (;;) {
        if (Comm1.inBufferCount() > 0) {
            const QByteArray c = Comm1.input();
            if (!c.isEmpty()) {
                last = c.back();
                received += c;
            }
        }
        const double now = MonotonicClock::now();
        if (last == '\r' || now > end)
            break;
        if (Comm1.inBufferCount() == 0)
            Comm1.waitForInput(static_cast<int>(std::ceil((end - now) * 1000)) + 1);
    }
    valid = VersionReply::parse(received, g);
}
