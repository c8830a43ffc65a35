// Upgrades in the window that stop short of the end: a file that cannot
// finish or cannot be read, Cancel at the warning or at a refused line, a
// meter that does not switch or hangs up, and the program asked to end
// mid-transfer.
#include "WindowUpgrade.h"
#include <QDir>
#include <csignal>
#include <functional>
#include <unistd.h>

namespace {

// The whole program (start-up, main loop, end) with a meter in its boot
// loader connected on port 1; `during` runs inside the main loop.
struct ProgramRun {
    explicit ProgramRun(const QStringList &emulator) : meter(emulator) {}
    MeterEmulatorProcess meter;
    WindowRig rig{meter.portEntry(), WindowRig::Window::None};

    void run(const std::function<void(frmFwUpMain &)> &during)
    {
        rig.runProgram([&](frmFwUpMain &w) {
            rig.g.Port_Menu_Index = 1;
            w.meter().Port_Number = 1;
            w.meter().Boot_Mode = true;
            w.link().Com_Open();
            w.Meter_Connected = true;
            QTimer::singleShot(0, &w, [&w, during] { during(w); });
        });
    }
};

} // namespace

class TestUpgradeStops : public QObject {
    Q_OBJECT
    int descriptorsBefore_ = 0;

private slots:
    void initTestCase() { makeOneTimeResources(); }
    void init() { descriptorsBefore_ = openDescriptors(); }
    // Whatever road a test took, nothing it opened stays open.
    void cleanup() { QVERIFY2(openDescriptors() == descriptorsBefore_, qPrintable(descriptorTargets().join(' '))); }

    // A file that cannot finish gets one box before the meter is touched:
    // nothing of the boot entry on the wire, the meter still connected, the
    // window as after any file error.
    void aFileThatCannotFinishTouchesNoMeter_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("cut");      // bytes cut from the end of the file
        QTest::addColumn<int>("flipAt");   // a checksum digit changed, from the end
        QTest::addColumn<bool>("boot");    // the meter was found in its boot loader
        QTest::addColumn<QString>("fault");
        QTest::newRow("truncated") << "OV3A_FW0211.OVH" << 90 << 0 << false << "no end-of-file record";
        QTest::newRow("bad checksum") << "OV3A_FW0211.OVH" << 0 << 20 << false << "checksum is";
        QTest::newRow("another model's typed name") << "OV3B_FW0211.OVH" << 0 << 0 << false
                                                    << "model 3B, this meter is model 3A";
        QTest::newRow("in the boot loader, bad checksum") << "OV3B_FW0211.OVH" << 0 << 20 << true << "checksum is";
    }

    void aFileThatCannotFinishTouchesNoMeter()
    {
        QFETCH(QString, name);
        QFETCH(int, cut);
        QFETCH(int, flipAt);
        QFETCH(bool, boot);
        QFETCH(QString, fault);
        QTemporaryDir dir;
        const auto made = HexFiles::make(dir.path(), "made", 1024);
        QByteArray text = HexFiles::readAll(made.path);
        text.chop(cut);
        if (flipAt > 0) {
            const qsizetype at = text.size() - flipAt - 3;  // a data line's checksum digit
            text[at] = text[at] == '0' ? '1' : '0';
        }
        const QString file = HexFiles::write(dir.path(), name, text);
        MeterEmulatorProcess meter(boot ? QStringList{"--boot"} + kFast : kFast);
        WindowRig rig(meter.portEntry());
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        if (boot)
            rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Ignore);
        w.cmdConnect_Click();
        QVERIFY(w.Meter_Connected);
        const QString heading = w.Label2->text(), version = w.lblFirm->text();
        const int sentBefore = meter.receivedMessageBytes().size();
        rig.prompts.expectOpen(file);
        rig.prompts.expectContaining(fault, 16, QString(), MsgAnswer::OK);
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QVERIFY(w.Meter_Connected && rig.comm.portOpen());
        QCOMPARE(w.cmdConnect->text(), QStringLiteral("Disconnect"));
        QVERIFY(w.cmdConnect->isEnabled() && w.cmdUpgrade->isEnabled() && w.cmdExit->isEnabled());
        QCOMPARE(w.Label2->text(), heading);
        QCOMPARE(w.lblFirm->text(), version);
        QTest::qWait(50);
        QCOMPARE(meter.receivedMessageBytes().size(), sentBefore);
        for (const QByteArray &m : meter.receivedMessageBytes())
            QVERIFY(!m.startsWith(':') && (boot || !m.contains("\xC2\xD4")));
    }

    // Retry at "Error sending " sends the same line again and leaves the bar
    // where it was; Cancel ends the transfer as an unexpected end.
    void refusedLineRetryThenCancel()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 1024);
        const QList<QByteArray> lines = linesOf(hex.path);
        MeterEmulatorProcess meter(QStringList{"--boot", "--refuse-line", "3"} + kFast);
        WindowRig rig(meter.portEntry());
        connectInBootLoader(rig);
        frmFwUpMain &w = *rig.window;
        const QString errorText = "Error sending " + QString::fromLatin1(lines[2].chopped(1));
        QList<int> bar;
        auto noteBar = [&] { bar << w.pbUpgrade->value(); };
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect(errorText, kErrorSendingStyle, kTitle, MsgAnswer::Retry, noteBar);
        rig.prompts.expect(errorText, kErrorSendingStyle, kTitle, MsgAnswer::Cancel, noteBar);
        rig.prompts.expect("Unexpected end of file", kOutcomeStyle, kTitle, MsgAnswer::OK);
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QCOMPARE(bar.size(), 2);
        QCOMPARE(bar[0], bar[1]);
        QVERIFY(bar[0] > 0 && bar[0] < w.pbUpgrade->maximum());
        // After the probe; the emulator's log may trail the wire a little.
        QTRY_COMPARE(meter.receivedMessageBytes().mid(1), (QList<QByteArray>{lines[0], lines[1], lines[2], lines[2]}));
        verifyDisconnected(rig);
    }

    // The warning and the boot entry: Cancel sends nothing; a meter that does
    // not answer the upgrade-mode command is asked again on OK.
    void warningAndBootEntryRoads_data()
    {
        QTest::addColumn<QStringList>("emulator");
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QList<QByteArray>>("wire");
        QTest::newRow("Cancel at the warning") << QStringList{} << false << QList<QByteArray>{};
        QTest::newRow("not responding: OK, then Cancel")
            << QStringList{"--silent"} << true
            << QList<QByteArray>{"H\r", "\xC2\xD4\r", "H\r", "\xC2\xD4\r"};
    }

    void warningAndBootEntryRoads()
    {
        QFETCH(QStringList, emulator);
        QFETCH(bool, confirm);
        QFETCH(QList<QByteArray>, wire);
        QTemporaryDir dir;
        const QString path = HexFiles::write(dir.path(), "OV3A_FW0211.OVH", ":00000001FF\r\n");
        MeterEmulatorProcess meter(emulator + kFast);
        WindowRig rig(meter.portEntry());
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        rig.meter().Port_Number = rig.g.Port_Menu_Index = 1;
        w.link().Com_Open();
        w.Meter_Connected = true;
        rig.prompts.expectOpen(path);
        rig.prompts.expect(kWarning + path, kWarningStyle, kTitle, confirm ? MsgAnswer::OK : MsgAnswer::Cancel);
        if (confirm) {
            rig.prompts.expect(kNotResponding, kNotRespondingStyle, kTitle, MsgAnswer::OK);
            rig.prompts.expect(kNotResponding, kNotRespondingStyle, kTitle, MsgAnswer::Cancel);
        }
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QCOMPARE(meter.receivedMessageBytes(), wire);
        QVERIFY(!rig.meter().Boot_Mode);
        verifyDisconnected(rig);
    }

    // Errors while choosing or reading the file end in one handler: one box
    // (none for the dialog's Cancel), the three buttons enabled, the meter
    // still connected.
    void fileErrorsKeepTheMeterConnected_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("dialog cancelled") << QString() << QString();
        QTest::newRow("typed name of no file") << "OV3A_FW0211.OVH" << " File Error: \n53: 'File not found'";
        QTest::newRow("a folder") << "." << " File Error: \n75: 'Path/File access error'";
        QTest::newRow("unreadable") << "locked" << " File Error: \n75: 'Path/File access error'";
    }

    void fileErrorsKeepTheMeterConnected()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString locked = HexFiles::write(dir.path(), "locked", ":00000001FF\r\n");
        QFile::setPermissions(locked, QFileDevice::Permissions());
        WindowRig rig{QString()};
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        w.Meter_Connected = true;
        rig.meter().Boot_Mode = true;  // straight to the file
        w.cmdConnect->setText(QStringLiteral("Disconnect"));
        if (name.isEmpty())
            rig.prompts.expectOpen(std::nullopt);
        else
            rig.prompts.expectOpen(QDir(dir.path()).filePath(name));
        if (!message.isEmpty())
            rig.prompts.expect(message, 0, QString(), MsgAnswer::OK);
        const int descriptors = openDescriptors();
        w.cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QVERIFY(w.Meter_Connected);
        QCOMPARE(w.cmdConnect->text(), QStringLiteral("Disconnect"));
        QVERIFY(w.cmdConnect->isEnabled() && w.cmdUpgrade->isEnabled() && w.cmdExit->isEnabled());
        QCOMPARE(openDescriptors(), descriptors);
    }

    void meterHangingUpMidTransferIsReported()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 4096);
        MeterEmulatorProcess meter({"--boot", "--hangup-after", "5"});  // at wire speed
        WindowRig rig(meter.portEntry());
        connectInBootLoader(rig);
        const int descriptors = openDescriptors();
        rig.prompts.expectOpen(hex.path);
        rig.prompts.expect(" File Error: \n101: 'Operation valid only when the port is open'", 0, QString(),
                           MsgAnswer::OK);
        rig.window->cmdUpgrade_Click();
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QVERIFY(rig.window->cmdUpgrade->isEnabled() && rig.window->cmdExit->isEnabled());
        QVERIFY(!rig.window->pbUpgrade->isHidden());
        QVERIFY(openDescriptors() <= descriptors);
    }

    // Closing the window closes the upgrade file at once; the transfer fails
    // at its next read, reports it, and then the program ends.
    void closingTheWindowMidTransferEndsTheProgram()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", kDataBytes);
        ProgramRun p({"--boot"});  // at wire speed: the close comes mid-transfer
        p.rig.prompts.expectOpen(hex.path);
        p.rig.prompts.expect(" File Error: \n52: 'Bad file name or number'", 0, QString(), MsgAnswer::OK);
        bool returned = false;
        p.run([&](frmFwUpMain &w) {
            QTimer::singleShot(300, &w, [&w] { w.close(); });
            w.cmdUpgrade_Click();
            returned = true;
        });
        QVERIFY2(p.rig.prompts.problems().isEmpty(), qPrintable(p.rig.prompts.problems().join("; ")));
        QVERIFY(returned && p.rig.g.Quit_Request && !p.rig.comm.portOpen());
        QVERIFY(QFile::exists(p.rig.sessionFile()));
        const int linesSent = static_cast<int>(p.meter.receivedMessageBytes().size()) - 1;
        QVERIFY2(linesSent > 0 && linesSent < hex.lines, qPrintable(QString::number(linesSent)));
    }

    // A signal mid-transfer is File, Exit: acted on once the upgrade has
    // run to its end, with no session file written.
    void signalDuringATransferWaitsForIt()
    {
        QTemporaryDir dir;
        const auto hex = HexFiles::make(dir.path(), "OV3A_FW0211.OVH", 4096);
        ProgramRun p({"--boot", "--no-pacing", "--reply-delay", "10"});
        p.rig.prompts.expectOpen(hex.path);
        p.rig.prompts.expect("Upgrade Complete.", kOutcomeStyle, kTitle, MsgAnswer::OK);
        bool quitSeenWhenDone = false;
        p.run([&](frmFwUpMain &w) {
            QTimer::singleShot(300, [] { ::kill(::getpid(), SIGTERM); });
            w.cmdUpgrade_Click();
            quitSeenWhenDone = p.rig.g.Quit_Request;
        });
        QVERIFY2(p.rig.prompts.problems().isEmpty(), qPrintable(p.rig.prompts.problems().join("; ")));
        QVERIFY(quitSeenWhenDone && !p.rig.comm.portOpen());
        QCOMPARE(HexFiles::readAll(p.meter.imagePath()), hex.image);
        QVERIFY(!QFile::exists(p.rig.sessionFile()));
    }
};

QTEST_MAIN(TestUpgradeStops)
#include "tst_upgrade_stops.moc"
