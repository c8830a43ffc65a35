#include "LinkRig.h"
#include "ScriptedCommPort.h"
#include "base/MonotonicClock.h"
#include "link/VersionReply.h"
#include <QtTest>

class TestVersionReply : public QObject {
    Q_OBJECT
private slots:
    void parsesTheReply_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QStringList>("identity");  // model, serial, boot, firmware
        const QStringList before{"old-model", "old-serial", "old-boot", "old-firm"};
        QTest::newRow("full reply") << QByteArray("V,OV3A01234,1.02,2.10\r") << true
                                    << QStringList{"3A", "OV3A01234", "1.02", "2.10"};
        QTest::newRow("comma is no model letter") << QByteArray("V,OV3,7,9\r") << true
                                                  << QStringList{"3", "OV3", "7", "9"};
        QTest::newRow("lower case, blanks, line feed dropped")
            << QByteArray("\nV,OV3a 12,1.0 0,2.1\r\n") << true
            << QStringList{"3", "OV312", "1.00", "2.1"};
        QTest::newRow("no further commas") << QByteArray("V,OV3A\r") << true
                                           << QStringList{"3A", "old-serial", "old-boot", ""};
        QTest::newRow("one comma after serial") << QByteArray("V,OV5,1.1\r") << true
                                                << QStringList{"5", "OV5", "old-boot", ""};
        QTest::newRow("extra commas stay in firmware") << QByteArray("V,OV3,1,2,3\r") << true
                                                       << QStringList{"3", "OV3", "1", "2,3"};
        QTest::newRow("codes above Z dropped") << QByteArray("V,OV9\xC3Z1,1,2") << true
                                               << QStringList{"9Z", "OV9Z1", "1", "2"};
        QTest::newRow("prefix only") << QByteArray("V,OV") << true
                                     << QStringList{"", "old-serial", "old-boot", ""};
        QTest::newRow("lower-case prefix rejected") << QByteArray("v,ov3,1,2\r") << false << before;
        QTest::newRow("garbled prefix rejected") << QByteArray("V,0V3,1,2\r") << false << before;
        QTest::newRow("empty rejected") << QByteArray() << false << before;
        QTest::newRow("chatter rejected") << QByteArray("R,00123.4,kWh\r") << false << before;
    }

    void parsesTheReply()
    {
        QFETCH(QByteArray, received);
        QFETCH(bool, valid);
        QFETCH(QStringList, identity);
        MeterState g;
        g.Model_Code = "old-model";
        g.Meter_Serial = "old-serial";
        g.Boot_Version = "old-boot";
        g.Firm_Version = "old-firm";
        QCOMPARE(VersionReply::parse(received, g), valid);
        QCOMPARE((QStringList{g.Model_Code, g.Meter_Serial, g.Boot_Version, g.Firm_Version}), identity);
    }

    // The reply is read for 0.2 s after a 0.5 s wait, without serving events,
    // up to its carriage return; what follows stays for later, and a reply
    // cut short by the window is parsed as far as it got.
    void readsTheReplyWithinItsWindow_data()
    {
        QTest::addColumn<int>("afterMs");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("leftOver");
        QTest::newRow("during the wait") << 100 << QByteArray("V,OV3A01234,1.02,2.10\r\nX") << true << "OV3A01234" << 2;
        QTest::newRow("during the read") << 600 << QByteArray("V,OV3A01234,1.02,2.10\rXY") << true << "OV3A01234" << 2;
        QTest::newRow("too late") << 750 << QByteArray("V,OV3A01234\r") << false << "old" << 12;
    }

    void readsTheReplyWithinItsWindow()
    {
        QFETCH(int, afterMs);
        QFETCH(QByteArray, reply);
        QFETCH(bool, valid);
        QFETCH(QString, serial);
        QFETCH(int, leftOver);
        ScriptedCommPort comm;
        ScriptedPrompts prompts;
        RecordingLinkEvents events;
        MeterLink link(comm, prompts, events);
        MeterState &g = link.meter();
        g.Meter_Serial = QStringLiteral("old");
        comm.arrive(afterMs, reply);
        const double t0 = MonotonicClock::now();
        bool result = !valid;
        link.Com_Input_Vers(result);
        const double lasted = MonotonicClock::now() - t0;
        QCOMPARE(comm.written, QByteArray("V\r"));
        QCOMPARE(result, valid);
        QCOMPARE(g.Meter_Serial, serial);
        QTest::qWait(100);  // anything still due has arrived
        QCOMPARE(comm.inBufferCount(), leftOver);
        const double expected = valid ? std::max(0.5, afterMs / 1000.0) : 0.7;
        QVERIFY2(lasted >= expected - 0.002 && lasted < expected + 0.03, qPrintable(QString::number(lasted)));
    }

    void cutShortByTheWindow()
    {
        ScriptedCommPort comm;
        ScriptedPrompts prompts;
        RecordingLinkEvents events;
        MeterLink link(comm, prompts, events);
        const MeterState &g = link.meter();
        comm.arrive(550, "V,OV3A01234,1.0");
        comm.arrive(800, "2,2.10\r");
        bool valid = false;
        link.Com_Input_Vers(valid);
        QVERIFY(valid);
        QCOMPARE(g.Meter_Serial, QStringLiteral("OV3A01234"));
        QCOMPARE(g.Firm_Version, QString());
    }
};

QTEST_GUILESS_MAIN(TestVersionReply)
#include "tst_version_reply.moc"
