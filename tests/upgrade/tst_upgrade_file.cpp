#include "HexFiles.h"
#include "base/FwUpErrors.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeFileName.h"
#include "upgrade/UpgradeProgress.h"
#include <QTemporaryDir>
#include <QtTest>

using Lines = QList<QByteArray>;

class TestUpgradeFile : public QObject {
    Q_OBJECT
private slots:
    void readsLinesAsTheMeterGetsThem_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Lines>("lines");
        QTest::newRow("CR LF") << QByteArray(":0001\r\n:00000001FF\r\n") << Lines{":0001", ":00000001FF"};
        QTest::newRow("CR alone") << QByteArray("a\rb\r") << Lines{"a", "b"};
        QTest::newRow("LF alone") << QByteArray("a\nb\r\nc\n") << Lines{"a", "b", "c"};
        QTest::newRow("LF CR is two line ends") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
        QTest::newRow("no final terminator") << QByteArray("a\r\nlast") << Lines{"a", "last"};
        QTest::newRow("empty lines count") << QByteArray("a\r\n\r\n\rb") << Lines{"a", "", "", "b"};
        QTest::newRow("empty file") << QByteArray() << Lines{};
        QTest::newRow("only a terminator") << QByteArray("\r\n") << Lines{""};
        QTest::newRow("binary bytes") << QByteArray("\x00\xff\x01\r\n", 5) << Lines{QByteArray("\x00\xff\x01", 3)};
        // The CR of a CR LF is the last byte of the first 64 KiB read.
        const QByteArray line(999, 'x');
        Lines straddling(65, line);
        straddling << QByteArray(470, 'x') << "z";
        QTest::newRow("CR LF across the read chunk")
            << (line + "\r\n").repeated(65) + QByteArray(470, 'x') + "\r\nz" << straddling;
        QTest::newRow("a line longer than any record is cut")
            << QByteArray(64 * 1024 - 1, 'x') + "\nz" << Lines{QByteArray(UpgradeFile::kLongestLineChars, 'x')};
    }

    void readsLinesAsTheMeterGetsThem()
    {
        QFETCH(QByteArray, content);
        QFETCH(Lines, lines);
        QTemporaryDir dir;
        UpgradeFile file;
        file.open(HexFiles::write(dir.path(), "f.OVH", content));
        QCOMPARE(file.size(), content.size());
        Lines read;
        while (!file.atEnd()) {
            read << file.readLine();
            if (file.lastLineTooLong())
                break;  // no line is held beyond what a record can be
        }
        QCOMPARE(read, lines);
    }

    void failsWithStableNumbers()
    {
        QTemporaryDir dir;
        const QString unreadable = HexFiles::write(dir.path(), "locked.OVH", ":00000001FF\r\n");
        QFile::setPermissions(unreadable, QFileDevice::Permissions());
        const struct {
            QString path;
            FwUpErrorNumber number;
        } cases[] = {
            {dir.filePath("missing.OVH"), FwUpErrorNumber::FileNotFound},
            {dir.path(), FwUpErrorNumber::FileAccessDenied},
#ifdef Q_OS_UNIX
            {unreadable, FwUpErrorNumber::FileAccessDenied},  // Windows lets its owner read it all the same
#endif
        };
        for (const auto &c : cases) {
            UpgradeFile file;
            try {
                file.open(c.path);
                QFAIL(qPrintable(c.path + " opened"));
            } catch (const FwUpError &e) {
                QCOMPARE(e.number(), c.number);
            }
        }
        // Closed under a reader: the next test or read says so.
        UpgradeFile file;
        file.open(HexFiles::write(dir.path(), "ok.OVH", "a\r\nb\r\n"));
        QCOMPARE(file.readLine(), QByteArray("a"));
        file.close();
        try {
            file.atEnd();
            QFAIL("atEnd on a closed file");
        } catch (const FwUpError &e) {
            QCOMPARE(e.number(), FwUpErrorNumber::FileNotOpen);
        }
        QVERIFY_THROWS_EXCEPTION(FwUpError, file.readLine());
    }

    void namesAndRecords_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("version");
        QTest::newRow("four digits") << "/x/OV3_FW1204.OVH" << "12.04";
        QTest::newRow("three digits") << "/x/OV3_FW204.OVH" << " 2.04";
        QTest::newRow("lower-case fw") << "/x/OV3_fw204.OVH" << " 2.04";
        QTest::newRow("five digits") << "/x/OV3_FW10204.OVH" << "02.04";
        QTest::newRow("outside the convention") << "C:\\data.hex" << "da.ta";
        QTest::newRow("short path") << "ab" << "ab.ab";
    }

    void namesAndRecords()
    {
        QFETCH(QString, path);
        QFETCH(QString, version);
        QCOMPARE(UpgradeFileName::versionText(path), version);
    }

    void recognisesTheEndRecordInAnyCase()
    {
        QVERIFY(UpgradeFile::isEndRecord(":00000001FF"));
        QVERIFY(UpgradeFile::isEndRecord("  :00000001FF  "));
        QVERIFY(UpgradeFile::isEndRecord(":00000001ff"));
        QVERIFY(!UpgradeFile::isEndRecord(":00000001FE"));
        QVERIFY(!UpgradeFile::isEndRecord(""));
        QCOMPARE(UpgradeFileName::dialogFilter("3A"), QStringLiteral("Firmware Upgrade Files (*.OVH)|OV3A_FW*.OVH"));
        QCOMPARE(UpgradeFileName::dialogFilter("*"), QStringLiteral("Firmware Upgrade Files (*.OVH)|OV*_FW*.OVH"));
    }

    // The bar reaches its end exactly with the last line, whatever the line
    // ends, and not before.
    void progressReachesTheEndWithTheLastLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("CR LF") << QByteArray(":10000000AABBCCDD\r\n").repeated(999) + ":00000001FF\r\n";
        QTest::newRow("CR alone") << QByteArray(":10000000AABBCCDD\r").repeated(999) + ":00000001FF\r";
        QTest::newRow("LF alone") << QByteArray(":10000000AABBCCDD\n").repeated(999) + ":00000001FF\n";
        QTest::newRow("no final line end") << QByteArray(":10000000AABBCCDD\r\n").repeated(999) + ":00000001FF";
    }

    void progressReachesTheEndWithTheLastLine()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        UpgradeFile file;
        file.open(HexFiles::write(dir.path(), "p.OVH", content));
        UpgradeProgress p = UpgradeProgress::forFileSize(file.size());
        QList<int> steps;
        while (!file.atEnd()) {
            const qsizetype chars = file.readLine().size();
            p.advance(chars, UpgradeFile::lineEndChars(file.lastLineEnd()));
            steps << p.widgetStep();
        }
        QCOMPARE(steps.size(), 1000);
        QCOMPARE(steps.last(), UpgradeProgress::kWidgetSteps);
        QVERIFY(steps[steps.size() - 2] < UpgradeProgress::kWidgetSteps);
        QVERIFY(std::is_sorted(steps.begin(), steps.end()));
    }
};

QTEST_GUILESS_MAIN(TestUpgradeFile)
#include "tst_upgrade_file.moc"
