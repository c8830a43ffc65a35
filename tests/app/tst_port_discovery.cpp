#include "MeterEmulatorProcess.h"
#include "WindowRig.h"
#include <QAction>
#include <QtTest>

namespace {
QStringList visibleItems(const frmFwUpMain &w)
{
    QStringList out;
    for (QAction *a : w.mnuSourcePortComm)
        if (a->isVisible())
            out << a->text();
    return out;
}
}

class TestPortDiscovery : public QObject {
    Q_OBJECT
private slots:
    void noPortsShowsOnlyNone()
    {
        WindowRig rig(QStringLiteral("4=/nonexistent/tty4"));
        rig.window->Init_Ports();
        QCOMPARE(visibleItems(*rig.window), QStringList{"None"});
        QVERIFY(!rig.window->mnuSourcePortComm[0]->isEnabled());
        for (bool present : rig.g.Port_Present)
            QVERIFY(!present);
    }

    void presentPortsAreListedDisabledAndUnchecked()
    {
        MeterEmulatorProcess three, seven;
        QVERIFY(three.started() && seven.started());
        WindowRig rig(QStringLiteral("3=%1,7=%2,9=/nonexistent/tty9").arg(three.device(), seven.device()));
        // Leftovers of an earlier connection: a check on present port 7 and
        // on port 9, which has gone away since.
        rig.window->mnuSourcePortComm[7]->setChecked(true);
        rig.window->mnuSourcePortComm[9]->setChecked(true);
        rig.window->Init_Ports();
        QCOMPARE(visibleItems(*rig.window), (QStringList{"Comm3:", "Comm7:"}));
        for (int n : {3, 7}) {
            QVERIFY(!rig.window->mnuSourcePortComm[n]->isEnabled());
            QVERIFY(!rig.window->mnuSourcePortComm[n]->isChecked());
        }
        QVERIFY(rig.window->mnuSourcePortComm[9]->isChecked());  // absent: left as it was
        for (int n = 0; n <= 16; ++n)
            QCOMPARE(rig.g.Port_Present[n], n == 3 || n == 7);
        QVERIFY(!rig.comm.portOpen());
        QVERIFY(rig.prompts.problems().isEmpty());
    }

    void portHeldByAnotherProgramIsAbsent()
    {
        MeterEmulatorProcess free, held;
        PortHolderProcess holder(held.device());
        QVERIFY(holder.holding());
        WindowRig rig(QStringLiteral("2=%1,5=%2").arg(held.device(), free.device()));
        rig.window->Init_Ports();
        QCOMPARE(visibleItems(*rig.window), QStringList{"Comm5:"});
        QVERIFY(!rig.g.Port_Present[2]);
    }

    void discoveryClosesAnOpenPort()
    {
        MeterEmulatorProcess meter;
        WindowRig rig(QStringLiteral("1=%1").arg(meter.device()));
        rig.g.Port_Number = 1;
        rig.window->link().Com_Open();
        QVERIFY(rig.comm.portOpen());
        rig.window->Init_Ports();
        QVERIFY(!rig.comm.portOpen());
        QVERIFY(rig.g.Port_Present[1]);
    }

    void clickingAPortItemDoesNothing()
    {
        MeterEmulatorProcess meter;
        WindowRig rig(QStringLiteral("1=%1").arg(meter.device()));
        rig.window->Init_Ports();
        QAction *item = rig.window->mnuSourcePortComm[1];
        item->trigger();  // disabled: ignored
        QVERIFY(!item->isChecked());
        QVERIFY(!rig.comm.portOpen());
    }
};

QTEST_MAIN(TestPortDiscovery)
#include "tst_port_discovery.moc"
