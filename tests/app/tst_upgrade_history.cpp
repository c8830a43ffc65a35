// The window's upgrades in the history: the row it writes and how it ends,
// with nothing new shown.
#include "HexFiles.h"
#include "MeterEmulatorProcess.h"
#include "WindowRig.h"
#include "WindowUpgrade.h"
#include "upgrade/FileFacts.h"
#include "history/HistoryQuery.h"
#include "history/HistoryStore.h"
#include <QPushButton>
#include <QtTest>

namespace {
QList<AttemptRecord> rows(const QString &path)
{
    HistoryStore store(HistoryStore::Access::Read, path);
    return HistoryQuery::find(store, HistoryFilter{});
}
}

class TestUpgradeHistory : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(state_.isValid());
        path_ = state_.filePath(QStringLiteral("%1.sqlite").arg(QTest::currentTestFunction()));
        qputenv("OVFW_HISTORY", path_.toLocal8Bit());
    }

    // Connected in normal mode: declined once at the warning, then completed.
    void completedAndDeclined()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 2048);
        MeterEmulatorProcess meter(kFast);
        WindowRig rig(meter.portEntry());
        frmFwUpMain &w = *rig.window;
        connectInNormalMode(rig);
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect(kWarning + hex.path, kWarningStyle, kTitle, MsgAnswer::Cancel);
        w.cmdUpgrade_Click();
        w.cmdConnect_Click();
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect(kWarning + hex.path, kWarningStyle, kTitle, MsgAnswer::OK);
        rig.prompts.expect("Upgrade Complete.", kOutcomeStyle, kTitle, MsgAnswer::OK);
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QCOMPARE(HexFiles::readAll(meter.imagePath()), hex.image);

        const QList<AttemptRecord> r = rows(path_);
        QCOMPARE(r.size(), 2);
        const AttemptRecord &done = r[0], &declined = r[1];
        QCOMPARE(declined.outcome, HistoryOutcome::Declined);
        QCOMPARE(declined.linesSent, 0);
        QCOMPARE(done.outcome, HistoryOutcome::Completed);
        for (const AttemptRecord &a : r) {
            QCOMPARE(a.face, QStringLiteral("window"));
            QCOMPARE(a.port, 1);
            QCOMPARE(a.device, meter.device());
            QCOMPARE(a.serial, QStringLiteral("OV3A01234"));
            QCOMPARE(a.model, QStringLiteral("3A"));
            QCOMPARE(a.bootVersion, QStringLiteral("1.02"));
            QCOMPARE(a.firmwareVersion, QStringLiteral("2.10"));
            QVERIFY(!a.foundInBootLoader);
            QCOMPARE(a.filePath, hex.path);
            QCOMPARE(a.fileSha256, FileFacts::sha256Of(hex.path));
            QCOMPARE(a.targetVersion, QStringLiteral("02.11"));
        }
        QCOMPARE(done.linesSent, qint64(hex.lines));
        QCOMPARE(done.linesTotal, qint64(hex.lines));
        QVERIFY(done.leftInBootLoader == false);
    }

    // A declined upgrade's row holds the facts of the bytes that were checked,
    // even when the file is replaced behind the warning.
    void aDeclinedRowHoldsWhatWasChecked()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 2048);
        const QString checkedSha = FileFacts::sha256Of(hex.path);
        MeterEmulatorProcess meter(kFast);
        WindowRig rig(meter.portEntry());
        frmFwUpMain &w = *rig.window;
        connectInNormalMode(rig);
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect(kWarning + hex.path, kWarningStyle, kTitle, MsgAnswer::Cancel,
                           [&] { HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 4096); });
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QVERIFY(FileFacts::sha256Of(hex.path) != checkedSha);
        const QList<AttemptRecord> r = rows(path_);
        QCOMPARE(r.size(), 1);
        QCOMPARE(r[0].outcome, HistoryOutcome::Declined);
        QCOMPARE(r[0].fileSha256, checkedSha);
    }

    // A meter in its boot loader, a line refused and Cancel at "Error sending ".
    void cancelledAtARefusedLine()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 1024);
        MeterEmulatorProcess meter(QStringList{"--boot", "--refuse-line", "3"} + kFast);
        WindowRig rig(meter.portEntry());
        rig.window->Form_Load();
        rig.window->Check_Boot();
        QVERIFY(rig.window->Meter_Connected && rig.meter().Boot_Mode);
        rig.window->cmdUpgrade->setEnabled(true);
        const QByteArray line3 = HexFiles::readAll(hex.path).split('\n').at(2).trimmed();
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect("Error sending " + QString::fromLatin1(line3), kErrorSendingStyle, kTitle, MsgAnswer::Cancel);
        rig.prompts.expect("Unexpected end of file", kOutcomeStyle, kTitle, MsgAnswer::OK);
        rig.window->cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));

        const QList<AttemptRecord> r = rows(path_);
        QCOMPARE(r.size(), 1);
        QCOMPARE(r[0].outcome, HistoryOutcome::UnexpectedEnd);
        QCOMPARE(r[0].refusedLine, 3);
        QCOMPARE(r[0].linesSent, 2);
        QVERIFY(r[0].foundInBootLoader && r[0].leftInBootLoader == true);
        QVERIFY(r[0].serial.isEmpty());
        QCOMPARE(r[0].fileSha256, FileFacts::sha256Of(hex.path));
    }

    // No file chosen: nothing was attempted, nothing is kept.
    void noFileNoRow()
    {
        MeterEmulatorProcess meter(QStringList{"--boot"} + kFast);
        WindowRig rig(meter.portEntry());
        rig.window->Form_Load();
        rig.window->Check_Boot();
        rig.prompts.expectOpen(std::nullopt);
        rig.window->cmdUpgrade_Click();
        QVERIFY(rows(path_).isEmpty());
    }

private:
    QTemporaryDir state_;
    QString path_;
};

QTEST_MAIN(TestUpgradeHistory)
#include "tst_upgrade_history.moc"
