#include "FakeSysfs.h"
#include "link/DeviceIdentity.h"
#include "link/MeterAddress.h"
#include "link/PortMap.h"
#include <QtTest>

using PortDevices = QMap<int, QString>;
Q_DECLARE_METATYPE(MeterAddress)

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
        const QString commas = QStringLiteral("separate entries with commas");
        QTest::addColumn<QString>("list");
        QTest::addColumn<PortDevices>("expected");
        QTest::addColumn<QStringList>("problems");  // a part of each note, in order
        QTest::newRow("two ports") << "3=/dev/pts/7,12=/dev/pts/9"
                                   << PortDevices{{3, "/dev/pts/7"}, {12, "/dev/pts/9"}} << QStringList{};
        QTest::newRow("blanks around") << " 5 = /tmp/x , " << PortDevices{{5, "/tmp/x"}} << QStringList{};
        QTest::newRow("empty means no ports") << "" << PortDevices{} << QStringList{};
        QTest::newRow("out of range and malformed skipped")
            << "0=/a,17=/b,x=/c,4,6=,2=/dev/ok" << PortDevices{{2, "/dev/ok"}}
            << QStringList{"ignored \"0=/a\": expected N=DEVICE with N from 1 to 16", "\"17=/b\"",
                           "\"x=/c\"", "\"4\"", "\"6=\""};
        QTest::newRow("last entry for a port wins, and says so")
            << "1=/a,1=/b" << PortDevices{{1, "/b"}}
            << QStringList{"port 1 is listed twice: \"1=/b\" replaces \"1=/a\" (the last entry for a port wins)"};
        QTest::newRow("semicolon between entries")
            << "3=/dev/pts/7;4=/dev/pts/8,5=/dev/pts/9" << PortDevices{{5, "/dev/pts/9"}}
            << QStringList{"ignored \"3=/dev/pts/7;4=/dev/pts/8\": a device name cannot contain ';', '=' or blanks; "
                           "separate entries with commas, as in \"3=/dev/pts/7,12=/dev/ttyACM0\""};
        QTest::newRow("blank between entries") << "3=/dev/pts/7 4=/dev/pts/8" << PortDevices{} << QStringList{commas};
        QTest::newRow("tab in a device") << "3=/dev/pts/7\t4" << PortDevices{} << QStringList{commas};
        QTest::newRow("equals sign in a device") << "3=4=/dev/pts/8" << PortDevices{} << QStringList{commas};
        QTest::newRow("semicolon before the number") << "x;3=/dev/pts/8" << PortDevices{} << QStringList{commas};
    }

    void overrideListsExactlyThePortsThatExist()
    {
        QFETCH(QString, list);
        QFETCH(PortDevices, expected);
        QFETCH(QStringList, problems);
        QStringList found;
        const PortMap map = PortMap::fromOverride(list, &found);
        for (int n = 0; n <= 17; ++n) {
            QCOMPARE(map.deviceFor(n), expected.value(n));
            QCOMPARE(map.isListed(n), expected.contains(n));
        }
        QCOMPARE(found.size(), problems.size());
        for (int i = 0; i < found.size(); ++i)
            QVERIFY2(found[i].contains(problems[i]), qPrintable(found[i]));
    }

    void defaultPortsAreNotListed()
    {
        const PortMap map = PortMap::systemDefault();
        for (int n = 1; n <= 16; ++n)
            QVERIFY(!map.isListed(n));
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

    // A name's real device and its adapter's serial number, whatever name
    // reaches it; the device tree is a fake one, laid out as the kernel's.
    void deviceIdentityOfAName_data()
    {
        QTest::addColumn<QString>("name");  // under the test's folder
        QTest::addColumn<QString>("realDevice");
        QTest::addColumn<QString>("usbSerial");
        QTest::newRow("USB adapter") << "ttyUSB7" << "ttyUSB7" << "FT5XYZ12";
        QTest::newRow("USB adapter through a by-id link") << "by-id/usb-FTDI-if00" << "ttyUSB7" << "FT5XYZ12";
        QTest::newRow("USB adapter without a serial number") << "ttyUSB8" << "ttyUSB8" << "";
        QTest::newRow("not on USB") << "ttyS0" << "ttyS0" << "";
        QTest::newRow("not in the device tree") << "ttyX" << "ttyX" << "";
        QTest::newRow("nothing there") << "gone" << "" << "";
    }

    void deviceIdentityOfAName()
    {
        QFETCH(QString, name);
        QFETCH(QString, realDevice);
        QFETCH(QString, usbSerial);
        QTemporaryDir dev;
        const QString folder = QFileInfo(dev.path()).canonicalFilePath();
        for (const char *tty : {"ttyUSB7", "ttyUSB8", "ttyS0", "ttyX"})
            QVERIFY(QFile(dev.filePath(tty)).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dev.path()).mkdir("by-id") && QFile::link(dev.filePath("ttyUSB7"), dev.filePath("by-id/usb-FTDI-if00")));
        FakeSysfs sysfs;
        QVERIFY(sysfs.addUsbTty("ttyUSB7", "FT5XYZ12") && sysfs.addUsbTty("ttyUSB8", {}) && sysfs.addPlatformTty("ttyS0"));

        const DeviceIdentity identity = DeviceIdentity::of(dev.filePath(name), sysfs.root());
        QCOMPARE(identity.realDevice, realDevice.isEmpty() ? QString() : folder + '/' + realDevice);
        QCOMPARE(identity.usbSerial, usbSerial);
    }
    // Each way of naming a meter, as a sentence, JSON and the option that
    // reaches it again say it; only ports 1 to 16 exist.
    void aMeterHasOneName_data()
    {
        QTest::addColumn<MeterAddress>("meter");
        QTest::addColumn<QString>("display");
        QTest::addColumn<QString>("jsonKey");
        QTest::addColumn<QJsonValue>("jsonName");
        QTest::addColumn<QString>("recovery");
        QTest::addColumn<QString>("stem");
        QTest::newRow("port") << MeterAddress::port(16, "/dev/ttyUSB15") << "port 16" << "port" << QJsonValue(16)
                              << "--port 16" << "port16";
        QTest::newRow("device") << MeterAddress::device("/dev/it's\x1b") << "/dev/it's\\x1B" << "device"
                                << QJsonValue("/dev/it's\x1b") << "--device '/dev/it'\\\\''s\\x1B'" << "dev_it's\x1b";
        QTest::newRow("socket") << MeterAddress::socket("A/1", "/dev/serial/by-path/a") << "socket A/1" << "socket"
                                << QJsonValue("A/1") << "--device '/dev/serial/by-path/a'" << "A_1";
    }

    void aMeterHasOneName()
    {
        QFETCH(MeterAddress, meter);
        QVERIFY(meter.isValid());
        QTEST(meter.displayName(), "display");
        QTEST(meter.jsonKey(), "jsonKey");
        QTEST(meter.jsonName(), "jsonName");
        QTEST(meter.recoveryOption(), "recovery");
        QTEST(meter.fileStem(), "stem");
        for (const int outside : {0, 17, -1})
            QVERIFY(!MeterAddress::port(outside, "/dev/ttyUSB0").isValid());
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_port_map.moc"
