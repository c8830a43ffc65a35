// What each way an upgrade can end means for its meter, decided from the
// result alone: the roads a stop, a silent meter, a poor line and --verify
// take through it.
#include "cli/UpgradeVerdict.h"
#include "upgrade/TransferPolicy.h"
#include "upgrade/UpgradeRun.h"
#include <QtTest>
#include <functional>

Q_DECLARE_METATYPE(MeterResult)
Q_DECLARE_METATYPE(UpgradeResult)

namespace {
using Shape = std::function<void(UpgradeResult &)>;

UpgradeResult ended(UpgradeOutcome outcome, const Shape &shape = {})
{
    UpgradeResult r;
    r.outcome = outcome;
    r.linesAccepted = 41;
    r.refusedLine = 42;
    if (shape)
        shape(r);
    return r;
}
}

class TestUpgradeVerdict : public QObject {
    Q_OBJECT

private slots:
    void eachEndHasOneVerdict_data()
    {
        QTest::addColumn<UpgradeResult>("result");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<MeterResult>("verdict");
        QTest::addColumn<QString>("message");
        const auto silent = [](UpgradeResult::Recovery why) {
            return [why](UpgradeResult &r) {
                r.restartSuspected = true;
                r.recovery = why;
                r.restarts = 3;
            };
        };
        QTest::newRow("completed") << ended(UpgradeOutcome::Completed) << false << MeterResult::Completed
                                   << "upgrade complete";
        QTest::newRow("end record unanswered, then the file's version")
            << ended(UpgradeOutcome::Completed, [](UpgradeResult &r) { r.endAnswered = false, r.versionAfter = "2.12"; })
            << false << MeterResult::Completed << "then the meter reported firmware 2.12";
        QTest::newRow("end record unconfirmed") << ended(UpgradeOutcome::EndUnconfirmed, [](UpgradeResult &r) {
            r.endAnswered = false, r.versionAfter = "2.11";
        }) << false << MeterResult::Failed << "reported firmware 2.11, the file gives 2.12";
        QTest::newRow("end record unconfirmed, stopped")
            << ended(UpgradeOutcome::EndUnconfirmed) << true << MeterResult::Interrupted << "stopped; end record unconfirmed";
        QTest::newRow("refused to the limit") << ended(UpgradeOutcome::UnexpectedEnd) << false << MeterResult::Failed
                                              << "line 42 refused 4 times";
        QTest::newRow("unanswered to the limit")
            << ended(UpgradeOutcome::UnexpectedEnd, [](UpgradeResult &r) { r.refusal = MeterReply::NoAnswer; })
            << false << MeterResult::Failed << "line 42 not answered 4 times";
        QTest::newRow("refused, stopped") << ended(UpgradeOutcome::UnexpectedEnd) << true << MeterResult::Interrupted
                                          << "stopped after line 41";
        QTest::newRow("no end record")
            << ended(UpgradeOutcome::UnexpectedEnd, [](UpgradeResult &r) { r.refusedLine = 0; }) << false
            << MeterResult::Failed << "without the end-of-file record";
        QTest::newRow("restarts spent") << ended(UpgradeOutcome::UnexpectedEnd,
                                                 silent(UpgradeResult::Recovery::RestartsSpent))
                                        << false << MeterResult::Failed << "after 3 presumed restarts (--retries 3";
        QTest::newRow("boot loader silent")
            << ended(UpgradeOutcome::UnexpectedEnd, silent(UpgradeResult::Recovery::BootLoaderSilent)) << false
            << MeterResult::Failed << "its boot loader did not answer within 10 s";
        QTest::newRow("silent, then stopped")
            << ended(UpgradeOutcome::UnexpectedEnd, silent(UpgradeResult::Recovery::RestartsSpent)) << true
            << MeterResult::Interrupted << "stopped after line 41";
        QTest::newRow("line quality") << ended(UpgradeOutcome::UnexpectedEnd, [](UpgradeResult &r) {
            r.lineQualityStopped = true, r.linesRetriedRecently = 11;
        }) << false << MeterResult::Failed << "11 of the last 100 lines needed a retry (stopped at line 42)";
        QTest::newRow("not switched") << ended(UpgradeOutcome::NotSwitched) << false << MeterResult::Failed
                                      << "even late; it may be in it";
        QTest::newRow("not switched, stopped") << ended(UpgradeOutcome::NotSwitched) << true
                                               << MeterResult::Interrupted << "stopped while the switch";
        QTest::newRow("stopped between lines") << ended(UpgradeOutcome::Stopped) << true << MeterResult::Interrupted
                                               << "stopped after line 41";
        QTest::newRow("file refused") << ended(UpgradeOutcome::FileRefused, [](UpgradeResult &r) {
            r.fault.line = 7, r.fault.description = "bad checksum";
        }) << false << MeterResult::Failed << "the file failed its check: line 7: bad checksum";
        QTest::newRow("port error") << ended(UpgradeOutcome::Failed, [](UpgradeResult &r) {
            r.errorNumber = 8020, r.errorDescription = "Error reading comm device";
        }) << false << MeterResult::Failed << "8020: Error reading comm device";
    }

    void eachEndHasOneVerdict()
    {
        QFETCH(UpgradeResult, result);
        QFETCH(bool, stopped);
        QFETCH(MeterResult, verdict);
        QFETCH(QString, message);
        const UpgradeVerdict v = upgradeVerdict(result, TransferPolicy::unattended(3), {stopped, false, "2.12"});
        QCOMPARE(v.result, verdict);
        QVERIFY2(v.message.contains(message), qPrintable(v.message));
        QVERIFY(!v.verifyNext);
    }

    // --verify holds a completed meter's verdict until it has been
    // identified again; only a meter that answered its end record is asked.
    void verifyDecidesLast()
    {
        const TransferPolicy rules = TransferPolicy::unattended(3);
        QVERIFY(upgradeVerdict(ended(UpgradeOutcome::Completed), rules, {false, true, "2.12"}).verifyNext);
        QVERIFY(!upgradeVerdict(ended(UpgradeOutcome::Completed, [](UpgradeResult &r) { r.endAnswered = false; }),
                                rules, {false, true, "2.12"})
                     .verifyNext);
        QCOMPARE(verifiedVerdict(true, "2.12", "2.12").result, MeterResult::Completed);
        QCOMPARE(verifiedVerdict(true, "2.11", "2.12").message,
                 QStringLiteral("not verified: the meter restarted with firmware 2.11, the file gives 2.12"));
        QCOMPARE(verifiedVerdict(false, {}, "2.12").result, MeterResult::Failed);
    }
};

QTEST_GUILESS_MAIN(TestUpgradeVerdict)
#include "tst_upgrade_verdict.moc"
