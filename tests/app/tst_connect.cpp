#include "WindowUpgrade.h"
#include "FakeChipIdLibrary.h"
#include "RecordingDocumentOpener.h"
#include "app/FwUpStartup.h"
#include "base/MonotonicClock.h"
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

constexpr double kTolerance = 0.05;  // seconds, for waits measured on the wire
const QString kNoHardware = QStringLiteral("No hardware detected: Check connection and Retry, or Cancel.");
constexpr int kNoHardwareStyle = 5 + 48;  // Retry, Cancel; exclamation

QList<int> checkedItems(const frmFwUpMain &w)
{
    QList<int> out;
    for (int n = 0; n <= 16; ++n)
        if (w.mnuSourcePortComm[n]->isChecked())
            out << n;
    return out;
}

void showActive(frmFwUpMain &w)
{
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

} // namespace

class TestConnect : public QObject {
    Q_OBJECT
private slots:
    void findsTheMeterOnTheSecondPort()
    {
        MeterEmulatorProcess silent({"--silent"}), meter;
        WindowRig rig(QStringLiteral("2=%1,5=%2").arg(silent.device(), meter.device()));
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        showActive(w);
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);

        QCOMPARE(rig.meter().Port_Number, std::int16_t(5));
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(5));
        QCOMPARE(checkedItems(w), QList<int>{5});
        QCOMPARE(rig.meter().Model_Code, QStringLiteral("3A"));
        QCOMPARE(w.lblhard->text(), QStringLiteral("OV3A01234"));
        QCOMPARE(w.lblFirm->text(), QStringLiteral("2.10"));
        QCOMPARE(w.lblBoot->text(), QStringLiteral("1.02"));
        QVERIFY(!w.lblBoot->isVisible() && !w.Label3->isVisible());
        QVERIFY(w.Label4->isVisible() && w.Label2->isVisible());
        QVERIFY(!w.lblTitle->isVisible() && !w.lblInfo->isVisible());
        QCOMPARE(w.cmdConnect->text(), QStringLiteral("Disconnect"));
        QVERIFY(w.cmdConnect->isEnabled() && w.cmdUpgrade->isEnabled());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.cmdUpgrade));
        QVERIFY(w.Meter_Connected && !rig.meter().Boot_Mode);
        QVERIFY(rig.comm.portOpen() && rig.comm.commPort() == 5);
        QCOMPARE(rig.prompts.problems(), QStringList());

        // On the wire: CR; 0.972 s; H; 0.108 s; H; V at once; the reply.
        const auto sent = meter.receivedMessages();
        QCOMPARE(meter.receivedMessageBytes(), (QList<QByteArray>{"\r", "H\r", "H\r", "V\r"}));
        const double gaps[] = {sent[1].seconds - sent[0].seconds, sent[2].seconds - sent[1].seconds,
                               sent[3].seconds - sent[2].seconds};
        QVERIFY2(qAbs(gaps[0] - 0.972) < kTolerance, qPrintable(QString::number(gaps[0])));
        QVERIFY2(qAbs(gaps[1] - 0.108) < kTolerance, qPrintable(QString::number(gaps[1])));
        QVERIFY2(gaps[2] < kTolerance, qPrintable(QString::number(gaps[2])));
        QCOMPARE(meter.wireMessages().last().bytes, QByteArray("V,OV3A01234,1.02,2.10\r"));
        QCOMPARE(silent.receivedMessageBytes(), (QList<QByteArray>{"\r", "H\r", "H\r", "V\r"}));

        // Disconnect: idle again; the port numbers and the check mark stay.
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QVERIFY(!w.Meter_Connected && !rig.comm.portOpen());
        QCOMPARE(w.cmdConnect->text(), QStringLiteral("Connect"));
        QVERIFY(w.cmdConnect->isEnabled() && !w.cmdUpgrade->isEnabled());
        QVERIFY(w.lblhard->text().isEmpty() && w.lblFirm->text().isEmpty() && w.lblBoot->text().isEmpty());
        QVERIFY(!w.Label4->isVisible() && !w.Label2->isVisible());
        QCOMPARE(rig.meter().Port_Number, std::int16_t(5));
        QCOMPARE(checkedItems(w), QList<int>{5});
        QCOMPARE(rig.meter().Meter_Serial, QStringLiteral("OV3A01234"));

        // The next Connect clears the mark before it searches.
        QList<int> checkedDuringSearch{-1};
        QTimer::singleShot(300, &w, [&] { checkedDuringSearch = checkedItems(w); });
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QCOMPARE(checkedDuringSearch, QList<int>{});
        QCOMPARE(checkedItems(w), QList<int>{5});
        QVERIFY(w.Meter_Connected);
    }

    void nothingAnswersRetryThenAbort()
    {
        MeterEmulatorProcess silent({"--silent"});
        WindowRig rig(silent.portEntry(3));
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        showActive(w);
        double firstAsked = 0;
        bool labelsHiddenWhileAsking = false;
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Retry, [&] {
            firstAsked = MonotonicClock::now();
            labelsHiddenWhileAsking = !w.lblInfo->isVisible() && !w.lblTitle->isVisible();
        });
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Abort);
        const double t0 = MonotonicClock::now();
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QCOMPARE(rig.prompts.problems(), QStringList());
        // One port with nothing attached costs about 1.8 s.
        const double oneSearch = firstAsked - t0;
        qInfo("Connect with nothing attached on one port: %.3f s", oneSearch);
        QVERIFY2(oneSearch > 1.78 && oneSearch < 1.78 + 0.15, qPrintable(QString::number(oneSearch)));
        QVERIFY(labelsHiddenWhileAsking);
        QCOMPARE(silent.receivedMessages().count(), 8);  // two searches: CR, H, H, V each
        QCOMPARE(rig.meter().Port_Number, std::int16_t(0));
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(0));
        QVERIFY(!w.Meter_Connected);
        QCOMPARE(w.cmdConnect->text(), QStringLiteral("Connect"));
        QVERIFY(w.cmdConnect->isEnabled() && !w.cmdUpgrade->isEnabled());
        QVERIFY(!w.Label4->isVisible() && !w.lblTitle->isVisible() && w.lblhard->text().isEmpty());
        QCOMPARE(checkedItems(w), QList<int>{});
    }

    void noPortAtAllAsksAtOnce()
    {
        WindowRig rig{QString()};
        rig.window->Form_Load();
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Abort);
        const double t0 = MonotonicClock::now();
        rig.window->cmdConnect_Click();
        QVERIFY(MonotonicClock::now() - t0 < 0.2);
        QCOMPARE(rig.prompts.problems(), QStringList());
    }

    void ignoreFindsAMeterInItsBootLoader()
    {
        MeterEmulatorProcess silent({"--silent"}), boot({"--boot"});
        WindowRig rig(QStringLiteral("2=%1,5=%2").arg(silent.device(), boot.device()));
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        showActive(w);
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Ignore);
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QCOMPARE(rig.prompts.problems(), QStringList());
        QVERIFY(w.Meter_Connected && rig.meter().Boot_Mode);
        QCOMPARE(rig.meter().Model_Code, QStringLiteral("*"));
        QCOMPARE(rig.meter().Port_Number, std::int16_t(5));
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(5));
        QCOMPARE(checkedItems(w), QList<int>{5});
        QCOMPARE(w.lblhard->text(), QStringLiteral("Unknown"));
        QCOMPARE(w.lblFirm->text(), QStringLiteral("Unknown"));
        QVERIFY(w.Label4->isVisible() && w.Label2->isVisible() && !w.lblInfo->isVisible());
        QCOMPARE(w.cmdConnect->text(), QStringLiteral("Disconnect"));
        QVERIFY(w.cmdUpgrade->isEnabled() && rig.comm.portOpen() && rig.comm.commPort() == 5);
        // Port 2 was tried first, with the upgrade-mode command after 0.972 s.
        const auto toSilent = silent.receivedMessages();
        QCOMPARE(toSilent.last().bytes, QByteArray("\xC2\xD4\r"));
        QCOMPARE(boot.receivedMessageBytes().count(QByteArray("\xC2\xD4\r")), 1);
    }

    void ignoreThenRetryThenCancel()
    {
        MeterEmulatorProcess silent({"--silent"});
        WindowRig rig(silent.portEntry(3));
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        QList<double> asked;
        QString infoWhileAsking;
        auto stamp = [&] { asked << MonotonicClock::now(); };
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Ignore, stamp);
        rig.prompts.expect(kNoHardware, kNoHardwareStyle, kSearchTitle, MsgAnswer::Retry, [&] {
            stamp();
            infoWhileAsking = w.lblInfo->text();
        });
        rig.prompts.expect(kNoHardware, kNoHardwareStyle, kSearchTitle, MsgAnswer::Cancel, stamp);
        w.cmdConnect_Click();
        QCOMPARE(rig.prompts.problems(), QStringList());
        QCOMPARE(asked.size(), 3);
        for (int i = 1; i < 3; ++i) {
            const double probe = asked[i] - asked[i - 1];
            qInfo("boot-loader probe of one port: %.3f s", probe);
            QVERIFY2(probe > 1.27 && probe < 1.27 + 0.1, qPrintable(QString::number(probe)));
        }
        QCOMPARE(infoWhileAsking, QStringLiteral("No Hardware Detected"));
        QCOMPARE(rig.meter().Port_Number, std::int16_t(0));
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(0));
        QVERIFY(!w.Meter_Connected && !rig.meter().Boot_Mode);
        QCOMPARE(w.cmdConnect->text(), QStringLiteral("Connect"));
        QVERIFY(w.lblTitle->isHidden() && w.lblInfo->isHidden());
    }

    // A meter whose reply cannot be used counts as none: the search asks.
    void unusableRepliesFindNoMeter_data()
    {
        QTest::addColumn<QStringList>("emulator");
        QTest::newRow("garbled") << QStringList{"--garble"};
        QTest::newRow("late") << QStringList{"--late-reply", "800"};
        QTest::newRow("lower case") << QStringList{"--identity", "v,ov3a01234,1.02,2.10"};
    }

    void unusableRepliesFindNoMeter()
    {
        QFETCH(QStringList, emulator);
        MeterEmulatorProcess meter(emulator);
        WindowRig rig(meter.portEntry(4));
        rig.window->Form_Load();
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Abort);
        rig.window->cmdConnect_Click();
        QCOMPARE(rig.prompts.problems(), QStringList());
        QVERIFY(!rig.window->Meter_Connected);
        QCOMPARE(rig.meter().Model_Code, QStringLiteral("*"));
        QVERIFY(rig.meter().Meter_Serial.isEmpty());
        QVERIFY(meter.receivedMessageBytes().contains("V\r"));
    }

    void checkBootWhenConnectedOnlyTogglesTheLabels()
    {
        MeterEmulatorProcess boot({"--boot"});
        WindowRig rig(boot.portEntry(2));
        frmFwUpMain &w = *rig.window;
        w.Form_Load();
        w.show();
        w.lblInfo->show();
        w.lblTitle->show();
        w.Meter_Connected = true;
        w.Check_Boot();
        QCOMPARE(rig.prompts.problems(), QStringList());
        QVERIFY(w.lblInfo->isHidden() && w.lblTitle->isHidden());
        QVERIFY(!rig.comm.portOpen() && !rig.meter().Boot_Mode);
        QCOMPARE(rig.meter().Port_Number, std::int16_t(0));
        QVERIFY(boot.receivedMessages().isEmpty());
    }

    void chattyMeterIsQuietedFirst()
    {
        MeterEmulatorProcess meter({"--chatter", "--quiet-after", "3", "--chatter-interval", "30"});
        WindowRig rig(meter.portEntry());
        rig.window->Form_Load();
        rig.window->cmdConnect_Click();
        QVERIFY(rig.window->Meter_Connected);
        const QList<QByteArray> sent = meter.receivedMessageBytes();
        QCOMPARE(sent.first(), QByteArray("\r"));
        QCOMPARE(sent.last(), QByteArray("V\r"));
        QCOMPARE(sent.count(QByteArray("H\r")), 3);
    }

    void meterThatNeverFallsSilentIsGivenUp()
    {
        MeterEmulatorProcess meter({"--never-quiet", "--chatter-interval", "30"});
        WindowRig rig(meter.portEntry());
        rig.window->Form_Load();
        bool portOpenWhenAsked = true;
        rig.prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Abort,
                           [&] { portOpenWhenAsked = rig.comm.portOpen(); });
        rig.window->cmdConnect_Click();
        QCOMPARE(rig.prompts.problems(), QStringList());
        QVERIFY(!portOpenWhenAsked);
        QList<double> quietAt;
        for (const auto &b : meter.receivedMessages()) {
            QVERIFY(b.bytes != "V\r");
            if (b.bytes == "H\r")
                quietAt << b.seconds;
        }
        // Quiet commands at 0, 0.108, 0.108, 0.918 and 1.728 s; the pass that
        // ends at 2.538 s is the first to end past the 2 s limit.
        QCOMPARE(quietAt.size(), 5);
        QVERIFY2(qAbs(quietAt.last() - quietAt.first() - 1.728) < kTolerance,
                 qPrintable(QString::number(quietAt.last() - quietAt.first())));
    }

    // The program keeps serving its window during a search; a quit asked for
    // meanwhile, or forced by a port that vanished, ends it once Connect has
    // returned.
    void quitDuringASearchWaitsForIt_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close box") << "close";
        QTest::newRow("File, Exit") << "exit";
        QTest::newRow("port vanished") << "vanish";
    }

    void quitDuringASearchWaitsForIt()
    {
        QFETCH(QString, how);
        MeterEmulatorProcess silent({"--silent"});
        auto meter = std::make_unique<MeterEmulatorProcess>();
        FwUpGlobals g;
        QtCommPort comm(PortMap::fromOverride(QStringLiteral("2=%1,5=%2").arg(silent.device(), meter->device())));
        ScriptedPrompts prompts;
        FakeChipIdLibrary chipId;
        RecordingDocumentOpener opener;
        QTemporaryDir appDir;
        bool searchReturned = false, quitSeenBeforeReturn = false;
        if (how == "vanish") {
            prompts.expect(QStringLiteral("Error Opening Comm5:9600,n,8,1"), 16,
                           QStringLiteral("Open Comms Port"), MsgAnswer::OK);
        } else {
            meter->stop();  // nothing answers
        }
        prompts.expect(kNoMeter, kNoMeterStyle, kSearchTitle, MsgAnswer::Abort);
        FwUpStartup::Main(g, {comm, prompts, appDir.path(), chipId, opener}, [&](frmFwUpMain &w) {
            QTimer::singleShot(0, &w, [&] {
                QTimer::singleShot(500, &w, [&] {
                    if (how == "close")
                        w.close();
                    else if (how == "exit")
                        w.mnuExit->trigger();
                    else
                        meter->stop();  // port 5 is gone before its probe
                });
                QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
                quitSeenBeforeReturn = g.Quit_Request;
                searchReturned = true;
            });
        });
        QCOMPARE(prompts.problems(), QStringList());
        QVERIFY(searchReturned && quitSeenBeforeReturn);
        QCOMPARE(QFile::exists(appDir.filePath("ra_zezidev.cfg")), how == "close");
        QVERIFY(!comm.portOpen());
    }
};

QTEST_MAIN(TestConnect)
#include "tst_connect.moc"
