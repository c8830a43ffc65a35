#include "link/PortMap.h"
#include <QtTest>

using PortDevices = QMap<int, QString>;

class TestPortMap : public QObject {
    Q_OBJECT
private slots:
    void systemDefaultIsTtyUsbCountedFromZero()
    {
        const PortMap map = PortMap::systemDefault();
        QCOMPARE(map.deviceFor(1), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(map.deviceFor(16), QStringLiteral("/dev/ttyUSB15"));
        QVERIFY(map.deviceFor(0).isEmpty());
        QVERIFY(map.deviceFor(17).isEmpty());
    }

    void overrideListsExactlyThePortsThatExist_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<PortDevices>("expected");
        QTest::addColumn<int>("problems");
        QTest::newRow("two ports") << "3=/dev/pts/7,12=/dev/pts/9"
                                   << PortDevices{{3, "/dev/pts/7"}, {12, "/dev/pts/9"}} << 0;
        QTest::newRow("blanks around") << " 5 = /tmp/x , " << PortDevices{{5, "/tmp/x"}} << 0;
        QTest::newRow("empty means no ports") << "" << PortDevices{} << 0;
        QTest::newRow("out of range and malformed skipped")
            << "0=/a,17=/b,x=/c,4,6=,2=/dev/ok" << PortDevices{{2, "/dev/ok"}} << 5;
        QTest::newRow("last entry for a port wins") << "1=/a,1=/b" << PortDevices{{1, "/b"}} << 0;
    }

    void overrideListsExactlyThePortsThatExist()
    {
        QFETCH(QString, list);
        QFETCH(PortDevices, expected);
        QFETCH(int, problems);
        QStringList found;
        const PortMap map = PortMap::fromOverride(list, &found);
        for (int n = 0; n <= 17; ++n)
            QCOMPARE(map.deviceFor(n), expected.value(n));
        QCOMPARE(found.size(), problems);
    }

    void environmentOverridesTheDefault()
    {
        qputenv(PortMap::kEnvironmentVariable, "7=/dev/pts/3");
        const PortMap map = PortMap::fromEnvironment();
        qunsetenv(PortMap::kEnvironmentVariable);
        QCOMPARE(map.deviceFor(7), QStringLiteral("/dev/pts/3"));
        QVERIFY(map.deviceFor(1).isEmpty());
        QCOMPARE(PortMap::fromEnvironment().deviceFor(1), QStringLiteral("/dev/ttyUSB0"));
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_port_map.moc"
