#include "MeterEmulatorProcess.h"
#include "base/MonotonicClock.h"
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QtTest>

namespace {

// One Intel HEX record with its checksum.
QByteArray record(int type, int address, const QByteArray &data)
{
    QByteArray raw;
    raw.append(static_cast<char>(data.size()));
    raw.append(static_cast<char>(address >> 8));
    raw.append(static_cast<char>(address & 0xFF));
    raw.append(static_cast<char>(type));
    raw.append(data);
    int sum = 0;
    for (char c : raw)
        sum += static_cast<unsigned char>(c);
    raw.append(static_cast<char>((-sum) & 0xFF));
    return ':' + raw.toHex().toUpper();
}

// Talks to the emulator as the tool would: a real serial port on its pty.
struct Line {
    QSerialPort port;
    explicit Line(const QString &device)
    {
        port.setPortName(device);
        port.setBaudRate(9600);
        port.open(QIODevice::ReadWrite);
    }
    void send(const QByteArray &bytes)
    {
        port.write(bytes);
        port.waitForBytesWritten(1000);
    }
    // Everything up to and including the first CR, or what came within the time.
    QByteArray reply(int timeoutMs = 1000)
    {
        QByteArray got;
        const double end = MonotonicClock::now() + timeoutMs / 1000.0;
        while (!got.contains('\r')) {
            const int left = static_cast<int>((end - MonotonicClock::now()) * 1000);
            if (left <= 0)
                break;
            if (port.bytesAvailable() == 0 && !port.waitForReadyRead(left))
                break;
            while (port.bytesAvailable() && !got.contains('\r'))
                got += port.read(1);
        }
        return got;
    }
    QByteArray drain(int forMs)
    {
        QByteArray got;
        const double end = MonotonicClock::now() + forMs / 1000.0;
        for (int left = forMs; left > 0; left = static_cast<int>((end - MonotonicClock::now()) * 1000))
            if (port.waitForReadyRead(left))
                got += port.readAll();
        return got + port.readAll();
    }
};

} // namespace

class TestMeterEmulator : public QObject {
    Q_OBJECT
private slots:
    void helpListsEverySwitch()
    {
        QProcess help;
        help.start(QStringLiteral(OV_METER_EMULATOR_PATH), {"--help"});
        QVERIFY(help.waitForFinished(3000));
        QCOMPARE(help.exitCode(), 0);
        const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
        for (const char *sw : {"--identity", "--chatter", "--chatter-interval", "--quiet-after",
                               "--never-quiet", "--boot", "--silent", "--late-reply", "--garble",
                               "--refuse-line", "--refuse-count", "--hangup-after", "--reply-delay",
                               "--no-pacing", "--image", "--log", "--link"})
            QVERIFY2(text.contains(QLatin1String(sw)), sw);
        QProcess bad;
        bad.start(QStringLiteral(OV_METER_EMULATOR_PATH), {"--refuse-line", "x"});
        QVERIFY(bad.waitForFinished(3000));
        QCOMPARE(bad.exitCode(), 2);
    }

    void normalModeAnswersTheVersionRequestAtLinePace()
    {
        MeterEmulatorProcess meter({"--identity", "V,OV7B555,3.00,4.01"});
        Line line(meter.device());
        QVERIFY(line.port.isOpen());
        const double t0 = MonotonicClock::now();
        line.send("V\r");
        QCOMPARE(line.reply(), QByteArray("V,OV7B555,3.00,4.01\r"));
        // 2 bytes out, 20 back, at about 1.04 ms each, plus 2 ms to think.
        QVERIFY(MonotonicClock::now() - t0 > 0.022);
        // The emulator logs a byte just after it has sent it.
        QTRY_VERIFY(meter.wireMessages().size() >= 2 && meter.wireMessages()[1].bytes.endsWith('\r'));
        const auto wire = meter.wireMessages();
        QCOMPARE(wire[0].bytes, QByteArray("V\r"));
        QVERIFY(wire[0].toMeter);
        QCOMPARE(wire[1].bytes, QByteArray("V,OV7B555,3.00,4.01\r"));
        QVERIFY(!wire[1].toMeter && wire[1].seconds > wire[0].seconds);
    }

    void chatterStopsAfterTheQuietCommands_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("quietCommandsNeeded");  // 0 = never
        QTest::newRow("one quiet command") << QStringList{"--chatter"} << 1;
        QTest::newRow("three quiet commands") << QStringList{"--chatter", "--quiet-after", "3"} << 3;
        QTest::newRow("never quiet") << QStringList{"--never-quiet"} << 0;
    }

    void chatterStopsAfterTheQuietCommands()
    {
        QFETCH(QStringList, args);
        QFETCH(int, quietCommandsNeeded);
        MeterEmulatorProcess meter(args << "--chatter-interval" << "50");
        Line line(meter.device());
        QVERIFY(!line.drain(200).isEmpty());
        for (int sent = 1; sent <= 4; ++sent) {
            line.send("H\r");
            line.drain(100);  // what was already on its way
            const bool silent = line.drain(200).isEmpty();
            QCOMPARE(silent, quietCommandsNeeded > 0 && sent >= quietCommandsNeeded);
        }
    }

    void quietCommandEndsFastChatterWithinALine()
    {
        // Readings asked for faster than 9600 baud carries them go out back to
        // back; the quiet command still lets only the one in progress finish.
        const int readingBytes = 15;  // "R,00123.4,kWh" CR LF
        MeterEmulatorProcess meter({"--chatter", "--chatter-interval", "5"});
        Line line(meter.device());
        QVERIFY(line.drain(300).size() > 100);
        line.send("H\r");
        line.drain(50);
        const int late = line.drain(300).size();
        QVERIFY2(late <= readingBytes,
                 qPrintable(QString("%1 bytes after the quiet command").arg(late)));
    }

    void bootLoaderTakesRecordsAndWritesTheImage()
    {
        MeterEmulatorProcess meter;
        Line line(meter.device());
        line.send("V\r");
        QVERIFY(line.reply().startsWith("V,OV"));
        line.send("\xC2\xD4\r");
        QCOMPARE(line.reply(), QByteArray("PASS\r"));
        line.send("V\r");  // the boot loader knows no version request
        QCOMPARE(line.reply(), QByteArray("FAIL\r"));

        QByteArray badChecksum = record(0, 0x10, "\x01\x02");
        badChecksum[badChecksum.size() - 1] = badChecksum.endsWith('0') ? '1' : '0';
        const QList<QByteArray> hex = {
            record(4, 0, QByteArray("\x00\x01", 2)),           // base 0x10000
            record(0, 0x0100, QByteArray("\x11\x22\x33\x44")),
            record(0, 0x0108, QByteArray("\x55\x66")),          // a gap of four bytes
            record(1, 0, {}),
        };
        line.send(badChecksum + "\r");
        QCOMPARE(line.reply(), QByteArray("FAIL\r"));
        line.send("not a record\r");
        QCOMPARE(line.reply(), QByteArray("FAIL\r"));
        for (const QByteArray &r : hex) {
            line.send(r + "\r");
            QCOMPARE(line.reply(), QByteArray("PASS\r"));
        }
        // The same image as srecord makes of the file, gaps filled with FF.
        QTemporaryDir dir;
        QFile file(dir.filePath("up.hex"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (const QByteArray &r : hex)
            file.write(r + "\r\n");
        file.close();
        QProcess srec;
        srec.start("srec_cat", {"(", file.fileName(), "-intel", "-fill", "0xFF", "-over", "(",
                                file.fileName(), "-intel", ")", ")", "-offset", "-0x10100", "-o",
                                dir.filePath("oracle.bin"), "-binary"});
        QVERIFY2(srec.waitForFinished(5000) && srec.exitCode() == 0, srec.readAllStandardError());
        QFile oracle(dir.filePath("oracle.bin")), image(meter.imagePath());
        QVERIFY(oracle.open(QIODevice::ReadOnly) && image.open(QIODevice::ReadOnly));
        const QByteArray expected = oracle.readAll();
        QCOMPARE(expected, QByteArray("\x11\x22\x33\x44\xFF\xFF\xFF\xFF\x55\x66"));
        QCOMPARE(image.readAll(), expected);
    }

    void startsInTheBootLoader()
    {
        MeterEmulatorProcess meter({"--boot"});
        Line line(meter.device());
        line.send("H\r");
        QVERIFY(line.drain(100).isEmpty());
        line.send("\xC2\xD4\r");
        QCOMPARE(line.reply(), QByteArray("PASS\r"));
    }

    void faultSwitches()
    {
        {
            MeterEmulatorProcess meter({"--silent"});
            Line line(meter.device());
            line.send("V\r");
            QVERIFY(line.drain(400).isEmpty());
        }
        {
            MeterEmulatorProcess meter({"--late-reply", "400"});
            Line line(meter.device());
            const double t0 = MonotonicClock::now();
            line.send("V\r");
            QVERIFY(line.reply(1500).startsWith("V,OV"));
            QVERIFY(MonotonicClock::now() - t0 >= 0.4);
        }
        {
            MeterEmulatorProcess meter({"--garble"});
            Line line(meter.device());
            line.send("V\r");
            const QByteArray reply = line.reply();
            QVERIFY(reply.endsWith('\r'));
            QVERIFY(!reply.startsWith("V,OV"));
        }
        {
            MeterEmulatorProcess meter({"--boot", "--refuse-line", "2", "--refuse-count", "2"});
            Line line(meter.device());
            const QByteArray data = record(0, 0, "\x01");
            line.send(data + "\r");
            QCOMPARE(line.reply(), QByteArray("PASS\r"));
            for (const char *expected : {"FAIL\r", "FAIL\r", "PASS\r"}) {
                line.send(data + "\r");
                QCOMPARE(line.reply(), QByteArray(expected));
            }
        }
        {
            MeterEmulatorProcess meter({"--boot", "--hangup-after", "2"});
            Line line(meter.device());
            const QByteArray data = record(0, 0, "\x01");
            line.send(data + "\r");
            QCOMPARE(line.reply(), QByteArray("PASS\r"));
            line.send(data + "\r");
            QCOMPARE(line.reply(), QByteArray("PASS\r"));
            QVERIFY(meter.process().waitForFinished(2000));
            line.port.waitForReadyRead(500);
            // Linux reports the hung-up pty as a read error, a vanished adapter
            // as a resource error.
            QVERIFY(line.port.error() == QSerialPort::ResourceError ||
                    line.port.error() == QSerialPort::ReadError);
        }
    }

    void noPacingRepliesAtOnce()
    {
        MeterEmulatorProcess meter({"--no-pacing", "--reply-delay", "0"});
        Line line(meter.device());
        const double t0 = MonotonicClock::now();
        line.send("V\r");
        QVERIFY(line.reply().startsWith("V,OV"));
        QVERIFY(MonotonicClock::now() - t0 < 0.02);
    }

    void linkNamesTheDevice()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("meter");
        {
            MeterEmulatorProcess meter({"--link", link});
            QCOMPARE(QFileInfo(link).symLinkTarget(), meter.device());
        }
        QVERIFY(!QFileInfo::exists(link));
    }
};

QTEST_GUILESS_MAIN(TestMeterEmulator)
#include "tst_meter_emulator.moc"
