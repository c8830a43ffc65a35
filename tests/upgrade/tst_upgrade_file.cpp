#include "HexFiles.h"
#include "base/FwUpErrors.h"
#include "upgrade/UpgradeFile.h"
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
        QTest::newRow("LF alone is part of the line") << QByteArray("a\nb\r\nc") << Lines{"a\nb", "c"};
        QTest::newRow("no final terminator") << QByteArray("a\r\nlast") << Lines{"a", "last"};
        QTest::newRow("empty lines count") << QByteArray("a\r\n\r\n\rb") << Lines{"a", "", "", "b"};
        QTest::newRow("empty file") << QByteArray() << Lines{};
        QTest::newRow("only a terminator") << QByteArray("\r\n") << Lines{""};
        QTest::newRow("binary bytes") << QByteArray("\x00\xff\x01\r\n", 5) << Lines{QByteArray("\x00\xff\x01", 3)};
        QTest::newRow("CR LF across the read chunk")
            << QByteArray(64 * 1024 - 1, 'x') + "\r\nz" << Lines{QByteArray(64 * 1024 - 1, 'x'), "z"};
        QTest::newRow("one long line") << QByteArray(1 << 20, '7') << Lines{QByteArray(1 << 20, '7')};
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
        while (!file.atEnd())
            read << file.readLine();
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
            {unreadable, FwUpErrorNumber::FileAccessDenied},
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
        QCOMPARE(UpgradeFile::versionText(path), version);
    }

    void recognisesOnlyTheExactEndRecord()
    {
        QVERIFY(UpgradeFile::isEndRecord(":00000001FF"));
        QVERIFY(UpgradeFile::isEndRecord("  :00000001FF  "));
        QVERIFY(!UpgradeFile::isEndRecord(":00000001ff"));
        QVERIFY(!UpgradeFile::isEndRecord(""));
        QCOMPARE(UpgradeFile::dialogFilter("3A"), QStringLiteral("Firmware Upgrade Files (*.OVH)|OV3A_FW*.OVH"));
        QCOMPARE(UpgradeFile::dialogFilter("*"), QStringLiteral("Firmware Upgrade Files (*.OVH)|OV*_FW*.OVH"));
    }

    // The bar reaches its end exactly with the last line of a CR LF file,
    // and holds there when lines ended by a CR alone run past it.
    void progressReachesTheEndWithTheLastLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("CR LF") << QByteArray(":10000000AABBCCDD\r\n").repeated(999) + ":00000001FF\r\n";
        QTest::newRow("CR alone") << QByteArray(":10000000AABBCCDD\r").repeated(999) + ":00000001FF\r";
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
            p.advance(file.readLine().size());
            steps << p.widgetStep();
        }
        QCOMPARE(steps.size(), 1000);
        QCOMPARE(steps.last(), UpgradeProgress::kWidgetSteps);
        QVERIFY(steps[steps.size() - 2] < UpgradeProgress::kWidgetSteps || !content.contains('\n'));
        QVERIFY(std::is_sorted(steps.begin(), steps.end()));
    }
};

QTEST_GUILESS_MAIN(TestUpgradeFile)
#include "tst_upgrade_file.moc"
