#include "MeterEmulatorProcess.h"
#include "LinkRig.h"
#include "base/FwUpErrors.h"
#include "link/EventWait.h"
#include "base/MonotonicClock.h"
#include <QtTest>

namespace {
// Timer resolution and scheduling on a loaded two-core machine.
constexpr double kWaitToleranceSeconds = 0.03;

QByteArray readReply(CommPort &port, double timeoutSeconds)
{
    QByteArray reply;
    const double end = MonotonicClock::now() + timeoutSeconds;
    while (!reply.endsWith('\r') && MonotonicClock::now() < end) {
        if (port.inBufferCount() > 0)
            reply += port.input();
        else
            EventWait::sleepUntil(end, &port);
    }
    return reply;
}
}

class TestComPort : public QObject {
    Q_OBJECT
private slots:
    void opensAtMeterSettingsAndTalks()
    {
        MeterEmulatorProcess meter;
        QVERIFY(meter.started());
        LinkRig rig(QStringLiteral("2=%1").arg(meter.device()));
        rig.g.Port_Number = 2;
        rig.link.Com_Open();
        QVERIFY(rig.comm.portOpen());
        QCOMPARE(rig.comm.commPort(), 2);

        rig.comm.output("V\r");
        // One character per read, as the meter link expects.
        QTRY_VERIFY(rig.comm.inBufferCount() > 1);
        QCOMPARE(rig.comm.input().size(), 1);
        const QByteArray rest = readReply(rig.comm, 1.0);
        QCOMPARE(rest, QByteArray(",OV3A01234,1.02,2.10\r"));

        rig.link.Com_Close();
        QVERIFY(!rig.comm.portOpen());
        rig.link.Com_Close();  // closing a closed port is harmless
        QVERIFY(rig.prompts.problems().isEmpty());
    }

    void openIsANoOpWhenOpenOrWithoutPort()
    {
        MeterEmulatorProcess a, b;
        LinkRig rig(QStringLiteral("2=%1,5=%2").arg(a.device(), b.device()));
        rig.link.Com_Open();  // Port_Number 0: nothing, no message
        QVERIFY(!rig.comm.portOpen());
        rig.g.Port_Number = 2;
        rig.link.Com_Open();
        rig.g.Port_Number = 5;
        rig.link.Com_Open();  // still on port 2
        QVERIFY(rig.comm.portOpen());
        QCOMPARE(rig.comm.commPort(), 2);
        QVERIFY(rig.prompts.problems().isEmpty());
        QVERIFY(!rig.g.Quit_Request);
    }

    void failedOpenReportsOnceAndRequestsQuit()
    {
        LinkRig rig(QStringLiteral("9=/nonexistent/tty"));
        rig.prompts.expect(QStringLiteral("Error Opening Comm3:9600,n,8,1"), 16,
                           QStringLiteral("Open Comms Port"), MsgAnswer::OK);
        rig.g.Port_Number = 3;  // not mapped at all
        rig.link.Com_Open();
        rig.prompts.expect(QStringLiteral("Error Opening Comm9:9600,n,8,1"), 16,
                           QStringLiteral("Open Comms Port"), MsgAnswer::OK);
        rig.g.Port_Number = 9;  // mapped to a device that is not there
        rig.link.Com_Open();
        QCOMPARE(rig.prompts.problems(), QStringList());
        QCOMPARE(rig.prompts.shown().size(), 2);
        QVERIFY(rig.g.Quit_Request);
        QCOMPARE(rig.events.heard, (QStringList{"quit", "quit"}));
        QVERIFY(!rig.comm.portOpen());
        // Later operations on the closed port raise the port-not-open error.
        try {
            rig.comm.output("H\r");
            QFAIL("output on a closed port did not raise");
        } catch (const FwUpError &e) {
            QCOMPARE(e.number(), FwUpErrorNumber::CommPortNotOpen);
        }
        QVERIFY_THROWS_EXCEPTION(FwUpError, rig.comm.inBufferCount());
        QVERIFY_THROWS_EXCEPTION(FwUpError, rig.comm.input());
    }

    void waitsLastTheirNominalLength_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<double>("ticks");
        QTest::addColumn<double>("expected");
        QTest::newRow("SDelay 1") << 1 << 0.0 << 0.972;
        QTest::newRow("TDelay 10") << 0 << 10.0 << 0.54;
        QTest::newRow("TDelay 2") << 0 << 2.0 << 0.108;
    }

    void waitsLastTheirNominalLength()
    {
        QFETCH(int, seconds);
        QFETCH(double, ticks);
        QFETCH(double, expected);
        LinkRig rig{QString()};
        const double t0 = MonotonicClock::now();
        if (seconds)
            rig.link.SDelay(static_cast<std::int16_t>(seconds));
        else
            rig.link.TDelay(ticks);
        const double elapsed = MonotonicClock::now() - t0;
        QVERIFY2(elapsed >= expected && elapsed < expected + kWaitToleranceSeconds,
                 qPrintable(QStringLiteral("waited %1 s").arg(elapsed)));
    }

    void zeroTicksYieldsOnceAndReturns()
    {
        LinkRig rig{QString()};
        bool served = false;
        QMetaObject::invokeMethod(this, [&] { served = true; }, Qt::QueuedConnection);
        const double t0 = MonotonicClock::now();
        rig.link.TDelay(0);
        QVERIFY(served);
        QVERIFY(MonotonicClock::now() - t0 < kWaitToleranceSeconds);
    }

    void handlersRunDuringAWait()
    {
        LinkRig rig{QString()};
        double firedAt = 0;
        const double t0 = MonotonicClock::now();
        QTimer::singleShot(100, this, [&] { firedAt = MonotonicClock::now() - t0; });
        rig.link.TDelay(10);
        QVERIFY(firedAt > 0.09 && firedAt < 0.2);
    }

    void lostLineClosesThePort()
    {
        auto meter = std::make_unique<MeterEmulatorProcess>(QStringList{"--boot", "--hangup-after", "1"});
        LinkRig rig(QStringLiteral("1=%1").arg(meter->device()));
        rig.g.Port_Number = 1;
        rig.link.Com_Open();
        rig.comm.output(":00000001FF\r");
        QCOMPARE(readReply(rig.comm, 1.0), QByteArray("PASS\r"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.comm.portOpen(), 3000);
        QVERIFY_THROWS_EXCEPTION(FwUpError, rig.comm.output("H\r"));
    }
};

QTEST_GUILESS_MAIN(TestComPort)
#include "tst_com_port.moc"
