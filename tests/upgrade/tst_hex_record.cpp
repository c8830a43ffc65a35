#include "upgrade/HexFileCheck.h"
#include "upgrade/UpgradeFileName.h"
#include "upgrade/HexRecord.h"
#include <QtTest>

using Lines = QList<QByteArray>;

class TestHexRecord : public QObject {
    Q_OBJECT
private slots:
    void judgesOneRecord_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("fault");  // a part of the fault text
        QTest::newRow("data") << QByteArray(":0400100001020304E2") << true << QString();
        QTest::newRow("lower-case data") << QByteArray(":0400100001020304e2") << true << QString();
        QTest::newRow("end record") << QByteArray(":00000001FF") << true << QString();
        QTest::newRow("end record in lower case") << QByteArray(":00000001ff") << true << QString();
        QTest::newRow("end record, other checksum") << QByteArray(":00000101FE") << false << "must read :00000001FF";
        QTest::newRow("extended linear") << QByteArray(":020000040800F2") << true << QString();
        QTest::newRow("extended segment") << QByteArray(":020000021000EC") << true << QString();
        QTest::newRow("start linear") << QByteArray(":0400000508000000EF") << true << QString();
        QTest::newRow("start segment") << QByteArray(":0400000300003800C1") << true << QString();
        QTest::newRow("empty") << QByteArray() << false << "empty";
        QTest::newRow("no colon") << QByteArray("0400100001020304E2") << false << "':'";
        QTest::newRow("bad checksum") << QByteArray(":0400100001020304E3") << false << "checksum is E3, should be E2";
        QTest::newRow("count too big") << QByteArray(":0500100001020304E1") << false << "byte count says 5";
        QTest::newRow("count too small") << QByteArray(":0300100001020304E3") << false << "byte count says 3";
        QTest::newRow("odd digits") << QByteArray(":0400100001020304E") << false << "odd";
        QTest::newRow("not hex") << QByteArray(":04001000010G0304E2") << false << "character 13";
        QTest::newRow("trailing blank") << QByteArray(":0400100001020304E2 ") << false << "blanks or tabs";
        QTest::newRow("leading tab") << QByteArray("\t:0400100001020304E2") << false << "blanks or tabs";
        QTest::newRow("line feed inside") << QByteArray(":00000001FF\n:00000001FF") << false << "not a hex digit";
        QTest::newRow("too short") << QByteArray(":00") << false << "too short";
        QTest::newRow("unknown type") << QByteArray(":00000006FA") << false << "unknown record type 06";
        QTest::newRow("end record with data") << QByteArray(":01000001AA54") << false << "needs 0 data bytes";
        QTest::newRow("extended linear too long") << QByteArray(":03000004080000F1") << false << "needs 2";
        QTest::newRow("binary") << QByteArray(":\x00\xff", 3) << false << "not a hex digit";
    }

    void judgesOneRecord()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, valid);
        QFETCH(QString, fault);
        const HexRecord::Record r = HexRecord::parse(line);
        QCOMPARE(r.valid, valid);
        if (!valid)
            QVERIFY2(r.fault.contains(fault), qPrintable(r.fault));
    }

    void decodesTheFields()
    {
        const HexRecord::Record r = HexRecord::parse(":0400100001020304E2");
        QCOMPARE(r.type, int(HexRecord::Data));
        QCOMPARE(r.offset, std::uint16_t(0x0010));
        QCOMPARE(r.data, QByteArray("\x01\x02\x03\x04", 4));
    }

    void judgesTheWholeFile_data()
    {
        QTest::addColumn<Lines>("lines");
        QTest::addColumn<qint64>("faultLine");  // 0: good
        QTest::addColumn<QString>("fault");
        const QByteArray end = ":00000001FF";
        const QByteArray at0 = ":0400000001020304F2";
        const QByteArray at2 = ":0400020001020304F0";  // overlaps at0 at 2..3
        const QByteArray at4 = ":0400040001020304EE";
        QTest::newRow("good") << Lines{at0, at4, end} << qint64(0) << QString();
        QTest::newRow("same address twice") << Lines{at0, at2, end} << qint64(2) << "00000002 is written twice";
        QTest::newRow("line after the end") << Lines{at0, end, at4} << qint64(3) << "after the end";
        QTest::newRow("end twice") << Lines{at0, end, end} << qint64(3) << "after the end";
        QTest::newRow("no end") << Lines{at0, at4} << qint64(2) << "no end-of-file record";
        QTest::newRow("empty file") << Lines{} << qint64(0) << "empty";
        QTest::newRow("empty line") << Lines{at0, "", end} << qint64(2) << "empty line";
        // The same offset in another 64 KiB window is another address.
        QTest::newRow("linear windows") << Lines{at0, ":020000040001F9", at0, end} << qint64(0) << QString();
        QTest::newRow("linear window again")
            << Lines{":020000040001F9", at0, ":020000040000FA", ":020000040001F9", at0, end} << qint64(5)
            << "00010000 is written twice";
        // Segment 1000 starts at 0x10000, as linear 0001 does.
        QTest::newRow("segment meets linear")
            << Lines{":020000040001F9", at0, ":020000021000EC", at0, end} << qint64(4) << "00010000 is written twice";
    }

    void judgesTheWholeFile()
    {
        QFETCH(Lines, lines);
        QFETCH(qint64, faultLine);
        QFETCH(QString, fault);
        HexFileChecker checker;
        QString found;
        qint64 foundLine = 0;
        for (const QByteArray &line : lines) {
            found = checker.feed(line);
            if (!found.isEmpty()) {
                foundLine = checker.lines();
                break;
            }
        }
        if (found.isEmpty())
            found = checker.finish();
        if (!found.isEmpty() && foundLine == 0)
            foundLine = checker.lines();
        if (fault.isEmpty()) {
            QVERIFY2(found.isEmpty(), qPrintable(found));
        } else {
            QVERIFY2(found.contains(fault), qPrintable(found));
            QCOMPARE(foundLine, faultLine);
        }
    }

    void mergesTheAddressRanges()
    {
        HexFileChecker checker;
        for (const QByteArray &line : Lines{":0400040001020304EE", ":0400000001020304F2", ":0400100001020304E2",
                                            ":00000001FF"})
            QVERIFY(checker.feed(line).isEmpty());
        QCOMPARE(checker.dataBytes(), qint64(12));
        const auto ranges = checker.ranges();
        QCOMPARE(ranges.size(), 2);
        QCOMPARE(ranges[0].first, 0u);
        QCOMPARE(ranges[0].end, 8u);
        QCOMPARE(ranges[1].first, 0x10u);
        QCOMPARE(ranges[1].end, 0x14u);
    }

    void takesTheModelFromTheName()
    {
        QCOMPARE(UpgradeFileName::modelCode("/x/OV3A_FW0210.OVH"), QString("3A"));
        QCOMPARE(UpgradeFileName::modelCode("OV3_FW204.OVH"), QString("3"));
        QCOMPARE(UpgradeFileName::modelCode("/OV3A/firmware.hex"), QString());
    }
};

QTEST_GUILESS_MAIN(TestHexRecord)
#include "tst_hex_record.moc"
