// Upgrades in the window that reach their end: a meter in normal mode and
// one found in its boot loader, a file with LF line ends, a line refused
// once, and a meter restarting mid-file upgraded after connecting again.
#include "WindowUpgrade.h"

class TestUpgradeCompletes : public QObject {
    Q_OBJECT
    int descriptorsBefore_ = 0;

private slots:
    void initTestCase() { makeOneTimeResources(); }
    void init() { descriptorsBefore_ = openDescriptors(); }
    // Whatever road a test took, nothing it opened stays open.
    void cleanup() { QVERIFY2(openDescriptors() == descriptorsBefore_, qPrintable(descriptorTargets().join(' '))); }

    void upgradesAMeterInNormalModeEndToEnd()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", kDataBytes);
        QVERIFY(!hex.path.isEmpty());
        MeterEmulatorProcess meter(kFast);
        WindowRig rig(meter.portEntry());
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        w.show();
        w.cmdConnect_Click();
        QVERIFY(w.Meter_Connected);

        QString heading, version;
        int barAtEnd = -1;
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect(kWarning + hex.path, kWarningStyle, kTitle, MsgAnswer::OK, [&] {
            heading = w.Label2->text() + (w.Label2->isVisible() ? "" : " (hidden)");
            version = w.lblFirm->text();
        });
        rig.prompts.expect("Upgrade Complete.", kOutcomeStyle, kTitle, MsgAnswer::OK, [&] {
            barAtEnd = w.pbUpgrade->isVisible() ? w.pbUpgrade->value() : -1;
        });
        QTest::mouseClick(w.cmdUpgrade, Qt::LeftButton);

        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QCOMPARE(rig.prompts.lastOpenTitle, QStringLiteral("Select Upgrade File"));
        QCOMPARE(rig.prompts.lastOpenFilter, QStringLiteral("Firmware Upgrade Files (*.OVH)|OV3A_FW*.OVH"));
        QCOMPARE(heading, QStringLiteral("Upgrading to Version"));
        QCOMPARE(version, QStringLiteral("02.11"));
        QCOMPARE(barAtEnd, w.pbUpgrade->maximum());
        QVERIFY(rig.meter().Boot_Mode);
        verifyDisconnected(rig);

        // Identification, the boot entry, then every line once, in order.
        QList<QByteArray> expected{"\r", "H\r", "H\r", "V\r", "H\r", "\xC2\xD4\r"};
        expected += linesOf(hex.path);
        QCOMPARE(meter.receivedMessageBytes(), expected);
        QCOMPARE(HexFiles::readAll(meter.imagePath()), hex.image);

        // The dialog offers the file chosen last time.
        rig.window->Meter_Connected = true;
        rig.meter().Boot_Mode = true;
        rig.prompts.expectOpen(std::nullopt);
        w.cmdUpgrade_Click();
        QCOMPARE(rig.prompts.lastOpenInitial, hex.path);
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
    }

    // The file is chosen by its bare name, while another folder is the
    // current one: the window reads it from its own folder.
    void upgradesAMeterFoundInItsBootLoader()
    {
        QTemporaryDir elsewhere;
        MeterEmulatorProcess meter(QStringList{"--boot"} + kFast);
        WindowRig rig(meter.portEntry());
        const auto hex = HexFiles::make(rig.appDir.path(), "OV3_FW204.OVH", kDataBytes);
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Ignore);
        w.cmdConnect_Click();
        QVERIFY(w.Meter_Connected && rig.meter().Boot_Mode);

        QVERIFY(QDir::setCurrent(elsewhere.path()));
        rig.prompts.expectOpen(QStringLiteral("OV3_FW204.OVH"));
        rig.prompts.expect("Upgrade Complete.", kOutcomeStyle, kTitle, MsgAnswer::OK);
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QCOMPARE(rig.prompts.lastOpenFilter, QStringLiteral("Firmware Upgrade Files (*.OVH)|OV*_FW*.OVH"));
        verifyDisconnected(rig);
        // After the search's probes, nothing but the lines: no quiet command,
        // no second upgrade-mode command.
        QList<QByteArray> sent = meter.receivedMessageBytes();
        while (!sent.isEmpty() && !sent.first().startsWith(':'))
            sent.removeFirst();
        QCOMPARE(sent, linesOf(hex.path));
        QCOMPARE(HexFiles::readAll(meter.imagePath()), hex.image);
    }

    // A file with LF line ends goes through; the bar reaches its end with
    // the last line and not before.
    void anLfFileCompletesWithTheBarAtItsEndLast()
    {
        QTemporaryDir dir;
        const auto made = HexFiles::make(dir.path(), "made", kDataBytes);
        const QString lf = HexFiles::write(dir.path(), "OV3A_FW0211.OVH", HexFiles::readAll(made.path).replace("\r\n", "\n"));
        MeterEmulatorProcess meter(kFast);
        WindowRig rig(meter.portEntry());
        frmFwUpMain &w = *rig.window;
        connectInNormalMode(rig);
        QList<int> bar;
        connect(w.pbUpgrade, &QProgressBar::valueChanged, this, [&bar](int v) { bar << v; });
        rig.prompts.expectOpen(lf);
        rig.prompts.expect(kWarning + lf, kWarningStyle, kTitle, MsgAnswer::OK);
        rig.prompts.expect("Upgrade Complete.", kOutcomeStyle, kTitle, MsgAnswer::OK);
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        // Every line moves the bar; the end comes with the last of them.
        QVERIFY(bar.size() >= made.lines);
        QCOMPARE(bar.indexOf(w.pbUpgrade->maximum()), bar.size() - 1);
        QCOMPARE(HexFiles::readAll(meter.imagePath()), made.image);
    }

    void refusedOnceThenAcceptedCompletes()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 1024);
        MeterEmulatorProcess meter(QStringList{"--boot", "--refuse-line", "2", "--refuse-count", "1"} + kFast);
        WindowRig rig(meter.portEntry());
        connectInBootLoader(rig);
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect("Error sending " + QString::fromLatin1(linesOf(hex.path)[1].chopped(1)),
                           kErrorSendingStyle, kTitle, MsgAnswer::Retry);
        rig.prompts.expect("Upgrade Complete.", kOutcomeStyle, kTitle, MsgAnswer::OK);
        rig.window->cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QCOMPARE(HexFiles::readAll(meter.imagePath()), hex.image);
    }

    // A meter that restarts mid-file: the person retries, waits, gives up on
    // the line; Connect finds the boot loader and the file goes again from
    // its start.
    void aMeterRestartingMidFileIsUpgradedAfterConnectingAgain()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 1024);
        MeterEmulatorProcess meter(QStringList{"--boot", "--reset-at", "3"} + kFast);
        WindowRig rig(meter.portEntry());
        connectInBootLoader(rig);
        frmFwUpMain &w = *rig.window;
        const QString errorText = "Error sending " + QString::fromLatin1(linesOf(hex.path)[2].chopped(1));
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect(errorText, kErrorSendingStyle, kTitle, MsgAnswer::Retry, [] { QTest::qWait(1200); });
        rig.prompts.expect(errorText, kErrorSendingStyle, kTitle, MsgAnswer::Cancel);
        rig.prompts.expect("Unexpected end of file", kOutcomeStyle, kTitle, MsgAnswer::OK);
        w.cmdUpgrade_Click();
        verifyDisconnected(rig);

        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Ignore);
        w.cmdConnect_Click();
        QVERIFY(w.Meter_Connected && rig.meter().Boot_Mode);
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect("Upgrade Complete.", kOutcomeStyle, kTitle, MsgAnswer::OK);
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QCOMPARE(HexFiles::readAll(meter.imagePath()), hex.image);
    }
};

QTEST_MAIN(TestUpgradeCompletes)
#include "tst_upgrade_completes.moc"
