#include "LinkRig.h"
#include "ScriptedCommPort.h"
#include "base/FwUpErrors.h"
#include "base/MonotonicClock.h"
#include <QtTest>

Q_DECLARE_METATYPE(MeterReply)

namespace {
constexpr double kToleranceSeconds = 0.03;
constexpr double kLimitSeconds = 0.3;

struct Rig {
    ScriptedCommPort comm;
    ScriptedPrompts prompts;
    RecordingLinkEvents events;
    MeterLink link{comm, prompts, events};

    MeterReply reply = MeterReply::Accepted;  // as the last call judged it

    // One call: the result and how long it took.
    std::pair<bool, double> acknowledge()
    {
        const double t0 = MonotonicClock::now();
        reply = link.acknowledgement();
        return {reply == MeterReply::Accepted, MonotonicClock::now() - t0};
    }
};
}

class TestAcknowledge : public QObject {
    Q_OBJECT
private slots:
    void judgesTheReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("returnsAfter");  // seconds
        QTest::addColumn<MeterReply>("judged");
        const auto refused = MeterReply::Refused, silent = MeterReply::NoAnswer, passed = MeterReply::Accepted;
        QTest::newRow("PASS CR") << QByteArray("PASS\r") << 20 << true << 0.02 << passed;
        QTest::newRow("other reply CR") << QByteArray("FAIL\r") << 20 << false << 0.02 << refused;
        QTest::newRow("other reply without CR") << QByteArray("FA") << 20 << false << kLimitSeconds << refused;
        QTest::newRow("no reply") << QByteArray() << 0 << false << kLimitSeconds << silent;
        QTest::newRow("PASS without CR") << QByteArray("PASS") << 20 << true << kLimitSeconds << passed;
        QTest::newRow("PASS inside") << QByteArray("xxPASSyy\r") << 10 << true << 0.01 << passed;
        QTest::newRow("lower case") << QByteArray("pass\r") << 10 << false << 0.01 << refused;
        QTest::newRow("too late") << QByteArray("PASS\r") << 400 << false << kLimitSeconds << silent;
    }

    void judgesTheReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, afterMs);
        QFETCH(bool, accepted);
        QFETCH(double, returnsAfter);
        QFETCH(MeterReply, judged);
        Rig rig;
        if (!reply.isEmpty())
            rig.comm.arrive(afterMs, reply);
        const auto [result, lasted] = rig.acknowledge();
        QCOMPARE(result, accepted);
        QCOMPARE(rig.reply, judged);
        QVERIFY2(lasted >= returnsAfter - 0.002 && lasted < returnsAfter + kToleranceSeconds,
                 qPrintable(QStringLiteral("returned after %1 s").arg(lasted)));
    }

    void leavesWhatFollowsTheCarriageReturnForTheNextCall()
    {
        Rig rig;
        // An old carriage return still unread, then the meter's real answer.
        rig.comm.preload("\r");
        rig.comm.arrive(0, "PASS\r\n");
        QCOMPARE(rig.acknowledge().first, false);
        QCOMPARE(rig.comm.inBufferCount(), 6);
        QCOMPARE(rig.acknowledge().first, true);
        QCOMPARE(rig.comm.inBufferCount(), 1);  // the line feed waits for later
        // A late reply is read first by the next call.
        rig.comm.arrive(350, "PASS\r");
        rig.comm.input();
        QCOMPARE(rig.acknowledge().first, false);
        QTest::qWait(100);
        const auto [accepted, lasted] = rig.acknowledge();
        QVERIFY(accepted);
        QVERIFY(lasted < kToleranceSeconds);
    }

    void aLineIsJudgedOnlyByItsOwnReply()
    {
        Rig rig;
        // The rest of a split reply to the line before is still unread when
        // the meter refuses this one.
        rig.comm.preload("PASS\r");
        rig.comm.arrive(20, "FAIL\r");
        QCOMPARE(rig.link.sendLine(":00000001FF"), MeterReply::Refused);
        QCOMPARE(rig.comm.written, QByteArray(":00000001FF\r"));
    }

    // After an attempt that was not accepted: the first reply to end inside
    // the settle answers that attempt, but only when its own reply had not
    // ended, and the line is waited out until it is quiet for a second. A
    // reply that ended in time is done once two characters' time is quiet.
    void theSettleAnswersOnlyWhatIsWaiting_data()
    {
        QTest::addColumn<QByteArray>("inWindow");  // arrives 20 ms after the line
        QTest::addColumn<QByteArray>("late");      // arrives 400 ms after the line
        QTest::addColumn<MeterReply>("settled");
        QTest::addColumn<double>("endsAfter");     // seconds after the settle begins, at least
        const auto refused = MeterReply::Refused, silent = MeterReply::NoAnswer, passed = MeterReply::Accepted;
        QTest::newRow("late PASS") << QByteArray() << QByteArray("PASS\r") << passed << 0.0;
        QTest::newRow("late FAIL, then quiet") << QByteArray() << QByteArray("FAIL\r") << refused << 1.0;
        QTest::newRow("a reply split across the window") << QByteArray("PA") << QByteArray("SS\r") << passed << 0.0;
        QTest::newRow("refused in time: only its own tail is waited for")
            << QByteArray("FAIL\r") << QByteArray() << silent << 0.0;
        QTest::newRow("nothing at all") << QByteArray() << QByteArray() << silent << 1.0;
    }

    void theSettleAnswersOnlyWhatIsWaiting()
    {
        QFETCH(QByteArray, inWindow);
        QFETCH(QByteArray, late);
        QFETCH(MeterReply, settled);
        QFETCH(double, endsAfter);
        Rig rig;
        if (!inWindow.isEmpty())
            rig.comm.arrive(20, inWindow);
        if (!late.isEmpty())
            rig.comm.arrive(400, late);
        QVERIFY(rig.link.sendLine(":00000001FF", kLimitSeconds) != MeterReply::Accepted);
        const double t0 = MonotonicClock::now();
        QCOMPARE(rig.link.settle(SettleTimes{}), settled);
        const double lasted = MonotonicClock::now() - t0;
        QVERIFY2(lasted >= endsAfter - 0.002 && lasted < endsAfter + SettleTimes{}.quietSeconds * 0.5,
                 qPrintable(QStringLiteral("settled after %1 s").arg(lasted)));
    }

    void aMeterThatKeepsTalkingEndsTheSettleAtItsLongest()
    {
        Rig rig;
        for (int ms = 400; ms < 5000; ms += 200)  // from after the window on
            rig.comm.arrive(ms, "R,00123.4,kWh\r\n");
        QCOMPARE(rig.link.sendLine(":00000001FF", kLimitSeconds), MeterReply::NoAnswer);
        const double t0 = MonotonicClock::now();
        QCOMPARE(rig.link.settle(SettleTimes{}), MeterReply::Refused);
        const double lasted = MonotonicClock::now() - t0;
        QVERIFY2(std::abs(lasted - SettleTimes{}.mostSeconds) < kToleranceSeconds,
                 qPrintable(QStringLiteral("settled after %1 s").arg(lasted)));
    }

    void portErrorsReachTheCaller()
    {
        Rig rig;
        rig.comm.setPortOpen(false);
        bool accepted = true;
        QVERIFY_THROWS_EXCEPTION(FwUpError, rig.link.Acknowledge(accepted));
    }
};

QTEST_GUILESS_MAIN(TestAcknowledge)
#include "tst_acknowledge.moc"
