// ovfw speaks with one voice: every error begins with "ovfw COMMAND:", words
// rather than labels or bare numbers, the same options where they mean the
// same, and a hint where a technician would be stuck.
#include "HexFiles.h"
#include "MeterEmulatorProcess.h"
#include "OvfwRig.h"
#include <QtTest>

class TestOvfwVoice : public QObject {
    Q_OBJECT
private slots:
    void eachSaysWhatItMeans_data()
    {
        QTest::addColumn<QStringList>("args");       // {METER} is the emulated meter's device
        QTest::addColumn<QStringList>("meter");      // the emulator's options, on port 1; none: no meter
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");           // on standard output or error; ^: what it begins with
        QTest::newRow("a file that is not there")
            << QStringList{"check", "nofile.OVH"} << QStringList{} << 2
            << "ovfw check: nofile.OVH: cannot be read: File not found (error 53)\n";
        QTest::newRow("a name off the convention")
            << QStringList{"check", "nofile.OVH"} << QStringList{} << 2
            << "ovfw check: warning: nofile.OVH does not follow";
        QTest::newRow("a port OVFW_PORTS does not list is a usage error")
            << QStringList{"identify", "--port", "5"} << QStringList{} << 2
            << "ovfw identify: port 5 is not in OVFW_PORTS, which lists no port\n";
        QTest::newRow("help COMMAND is COMMAND --help")
            << QStringList{"help", "history", "push"} << QStringList{} << 0 << "Usage: ovfw history push [options]\n";
        QTest::newRow("no failed upgrade")
            << QStringList{"history", "--failed"} << QStringList{} << 0 << "No failed upgrade recorded.\n";
        QTest::newRow("identify names a meter by its device, as upgrade does")
            << QStringList{"identify", "--device", "{METER}"} << QStringList{"--no-pacing"} << 0
            << "{METER}: model 3A, serial OV3A01234, boot loader 1.02, firmware 2.10\n";
        QTest::newRow("ports --json, as the other listings")
            << QStringList{"ports", "--json"} << QStringList{"--no-pacing"} << 0
            << "{\"device\":\"{METER}\",\"port\":1,\"state\":\"present\",\"state_text\":\"present\",\"usb\":null}\n";
        QTest::newRow("-v tells each retry with its reason")
            << QStringList{"upgrade", "{FILE}", "-y", "--port", "1", "-v"}
            << QStringList{"--no-pacing", "--refuse-line", "5", "--refuse-count", "1"} << 0
            << "Port 1 (OV3A01234): line 5 was refused (attempt 1); trying again\n";
        QTest::newRow("-q leaves the summary alone")
            << QStringList{"upgrade", "{FILE}", "-y", "--port", "1", "-q"} << QStringList{"--no-pacing"} << 0
            << "^port  serial ";
        QTest::newRow("a boot loader's FAIL points to --probe-boot")
            << QStringList{"identify", "--device", "{METER}"} << QStringList{"--no-pacing", "--boot"} << 1
            << "{METER}: unreadable reply \"FAIL\\r\" (a meter waiting in its boot loader answers so; "
               "--probe-boot asks for one)\n";
    }

    void eachSaysWhatItMeans()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, meter);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QTemporaryDir state;
        std::unique_ptr<MeterEmulatorProcess> m;
        QString ports;  // port 1 is the meter's, if there is one
        if (!meter.isEmpty()) {
            m = std::make_unique<MeterEmulatorProcess>(meter);
            args.replaceInStrings("{METER}", m->device());
            said.replace("{METER}", m->device());
            ports = "1=" + m->device();
        }
        if (args.contains("{FILE}"))
            args.replaceInStrings("{FILE}", HexFiles::make(state.path(), "OV3A_FW0211.OVH", 2048).path);
        const OvfwRun r = ovfw(args, ports, state.filePath("history.sqlite"));
        if (said.startsWith('^'))
            QVERIFY2(r.out.startsWith(said.mid(1)), qPrintable(r.out + r.err));
        else
            QVERIFY2((r.out + r.err).contains(said), qPrintable(r.out + r.err));
        QCOMPARE(r.exitCode, exitCode);
    }
};

QTEST_GUILESS_MAIN(TestOvfwVoice)
#include "tst_ovfw_voice.moc"
