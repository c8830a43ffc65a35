// Every shape of upgrade file the world produces, and the faults a bench
// meets: each accepted or refused by the one check, with its fault named;
// each accepted shape sent by `ovfw upgrade` leaves the emulated meter with
// exactly the data srec_cat reads from the file (compared address by byte,
// both written as Intel HEX by srec_cat, never as a flat image of the span).
#include "HexFiles.h"
#include "OvfwRig.h"
#include <QRandomGenerator>
#include <QtTest>

namespace {
constexpr int kToolTimeoutMs = 30000;
constexpr int kDataBytes = 700;

// srec_cat with these arguments; whether it succeeded.
bool runSrecCat(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("srec_cat"), args);
    return p.waitForFinished(kToolTimeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// srec_cat's reading of an Intel HEX file, written back in one canonical
// form: data only (start addresses dropped), 16 bytes a line.
QByteArray canonical(const QString &dir, const QString &hex)
{
    const QString out = QDir(dir).filePath(QStringLiteral("canonical.hex"));
    QFile::remove(out);
    if (!runSrecCat({hex, "-intel", "-o", out, "-intel", "-address-length=4", "-output-block-size=16"}))
        return {};
    QByteArray kept;
    for (const QByteArray &line : HexFiles::readAll(out).split('\n')) {
        const QByteArray type = line.mid(7, 2);
        if (type != "03" && type != "05")
            kept += line + '\n';
    }
    return kept;
}

// A file srec_cat writes from the data at `offset`, with its own options.
QByteArray srecCat(const QString &dir, const QByteArray &data, const QStringList &options)
{
    const QString bin = HexFiles::write(dir, QStringLiteral("shape.bin"), data);
    const QString out = QDir(dir).filePath(QStringLiteral("shape.hex"));
    QFile::remove(out);
    if (!runSrecCat(QStringList{bin, "-binary"} + options + QStringList{"-o", out, "-intel"}))
        return {};
    return HexFiles::readAll(out);  // LF line ends, as srec_cat writes them here
}

QByteArray mixedCase(QByteArray text)
{
    for (qsizetype i = 0; i < text.size(); i += 2)
        text[i] = static_cast<char>(QChar::toLower(static_cast<char16_t>(text.at(i))));
    return text;
}

// An extended linear address record before every data record.
QByteArray addressBeforeEachRecord(const QByteArray &text)
{
    QByteArray out;
    QByteArray address = ":020000040000FA";
    for (const QByteArray &line : text.split('\n')) {
        if (line.mid(7, 2) == "04")
            address = line;
        else if (line.mid(7, 2) == "00")
            out += address + '\n';
        if (!line.isEmpty())
            out += line + '\n';
    }
    return out;
}

// The data records in reverse order, the end record still last.
QByteArray outOfOrder(const QByteArray &text)
{
    QList<QByteArray> lines = text.trimmed().split('\n');
    const QByteArray end = lines.takeLast();
    std::reverse(lines.begin(), lines.end());
    return lines.join('\n') + '\n' + end + '\n';
}
}

class TestFileShapes : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }

    void eachShapeIsJudgedAndSentWhole_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("fault");  // empty: accepted
        QByteArray data(kDataBytes, '\0');
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), kDataBytes / 4);
        const QString d = dir_.path();
        const QByteArray linear = srecCat(d, data, {"-offset", "0x1000FF00", "-address-length=4",
                                                    "-execution-start-address=0x10000000", "-output-block-size=16"});
        const QByteArray segment = srecCat(d, data, {"-offset", "0x1FF00", "-address-length=3",
                                                     "-execution-start-address=0x1234", "-output-block-size=32"});
        const QByteArray longest = srecCat(d, data, {"-address-length=4", "-output-block-size=255"});
        QVERIFY(linear.contains(":02000004") && linear.contains(":04000005"));
        QVERIFY(segment.contains(":02000002") && segment.contains(":04000003"));
        QVERIFY(longest.contains(":FF"));
        QByteArray crlf = linear;
        crlf.replace("\n", "\r\n");
        QByteArray cr = segment;
        cr.replace("\n", "\r");
        const QByteArray good = ":0400000001020304F2\r\n:00000001FF\r\n";

        QTest::newRow("linear 04/05, LF") << linear << QString();
        QTest::newRow("segment 02/03, LF") << segment << QString();
        QTest::newRow("255 data bytes a record") << longest << QString();
        QTest::newRow("CR LF") << crlf << QString();
        QTest::newRow("CR alone") << cr << QString();
        QTest::newRow("lower case") << linear.toLower() << QString();
        QTest::newRow("mixed case") << mixedCase(segment) << QString();
        QTest::newRow("no final line end") << crlf.chopped(2) << QString();
        QTest::newRow("address before every record") << addressBeforeEachRecord(linear) << QString();
        QTest::newRow("out of order") << outOfOrder(linear) << QString();

        QTest::newRow("bad checksum") << QByteArray(":0400000001020304F3\r\n:00000001FF\r\n") << "checksum is F3, should be F2";
        QTest::newRow("bad length") << QByteArray(":0500000001020304F1\r\n:00000001FF\r\n") << "byte count says 5";
        QTest::newRow("not hex") << QByteArray(":04000000010G0304F2\r\n:00000001FF\r\n") << "is not a hex digit";
        QTest::newRow("blank before") << QByteArray(" ") + good << "blanks or tabs";
        QTest::newRow("tab after") << QByteArray(good).insert(19, '\t') << "blanks or tabs";
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF") + good << "byte-order mark";
        QTest::newRow("Ctrl-Z at the end") << good + '\x1A' << "Ctrl-Z";
        QTest::newRow("empty line") << QByteArray(good).insert(21, "\r\n") << "line 2: empty line";
        QTest::newRow("CR CR LF") << QByteArray(good).replace("\r\n", "\r\r\n") << "converted twice";
        QTest::newRow("type 0A") << QByteArray(":0400000A01020304E8\r\n") + good << "multi-target";
        QTest::newRow("type 0E") << QByteArray(":0400000E01020304E4\r\n") + good << "multi-target";
        QTest::newRow("after the end record") << good + ":00000001FF\r\n" << "after the end-of-file record";
        QTest::newRow("no end record") << good.left(21) << "no end-of-file record";
        QTest::newRow("overlap") << QByteArray(":0400000001020304F2\r\n") + good << "written twice";
        QTest::newRow("too long") << QByteArray(5000, '7') << "longer than any Intel HEX record";
    }

    void eachShapeIsJudgedAndSentWhole()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, fault);
        const QString file = HexFiles::write(dir_.path(), QStringLiteral("OV3A_FW0210.OVH"), content);
        const OvfwRun checked = ovfw({QStringLiteral("check"), file});
        if (!fault.isEmpty()) {
            QCOMPARE(checked.exitCode, 2);
            QVERIFY2(checked.err.contains(fault), qPrintable(checked.err));
            return;
        }
        QVERIFY2(checked.exitCode == 0, qPrintable(checked.err));
        const QString image = dir_.filePath(QStringLiteral("image.hex"));
        QFile::remove(image);
        MeterEmulatorProcess meter({QStringLiteral("--no-pacing"), QStringLiteral("--image"), image});
        QVERIFY(meter.started());
        const OvfwRun upgraded = ovfw({"upgrade", file, "--yes", "--port", "1"}, meter.portEntry());
        QVERIFY2(upgraded.exitCode == 0, qPrintable(upgraded.err));
        // srec_cat reads LF line ends and capitals only: the same records so.
        QByteArray plain = content.toUpper();
        plain.replace("\r\n", "\n").replace('\r', '\n');
        const QByteArray expected =
            canonical(dir_.path(), HexFiles::write(dir_.path(), QStringLiteral("plain.hex"), plain));
        QVERIFY(!expected.isEmpty());
        QCOMPARE(canonical(dir_.path(), image), expected);
    }

    // At 9600 baud a record of 255 data bytes is on the wire for 0.54 s,
    // longer than the meter's 0.3 s window lasts: the window opens only once
    // the line has left the port.
    void theLongestRecordIsAcknowledgedAt9600Baud()
    {
        QByteArray data(4 * 255, '\0');
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), data.size() / 4);
        const QByteArray text = srecCat(dir_.path(), data, {"-address-length=4", "-output-block-size=255"});
        const QString file = HexFiles::write(dir_.path(), QStringLiteral("OV3A_FW0210.OVH"), text);
        MeterEmulatorProcess meter;  // paced at 9600 baud
        QVERIFY(meter.started());
        const OvfwRun upgraded = ovfw({"upgrade", file, "--yes", "--retries", "0", "--port", "1"}, meter.portEntry());
        QVERIFY2(upgraded.exitCode == 0, qPrintable(upgraded.err));
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestFileShapes)
#include "tst_file_shapes.moc"
