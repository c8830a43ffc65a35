// What ovfw checks around an upgrade: the file's SHA-256 (printed by
// `check`, required by --sha256), the guard of --boot by the model last
// identified on the device or its adapter, and --verify's look at the
// version the meter restarts into. ovfw as a child process, meters on
// emulators, the history read back with `ovfw history`.
#include "FakeSysfs.h"
#include "HexFiles.h"
#include "OvfwRig.h"
#include "upgrade/FileFacts.h"
#include <QtTest>

namespace {
constexpr int kFileBytes = 4 * 1024;

using Run = OvfwRun;
}

class TestOvfwSafeguards : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        made_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), kFileBytes);
        QVERIFY2(!made_.path.isEmpty(), "srec_cat made no file");
        digest_ = FileFacts::sha256Of(made_.path);
        QCOMPARE(digest_.size(), 64);
    }

    void checkPrintsTheDigest()
    {
        const Run r = ovfw({"check", made_.path}, {}, {});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("SHA-256: ") + digest_), qPrintable(r.out));
    }

    // --boot asks for the version first: a meter in normal mode is guarded by
    // the model it names and switched as usual. A boot loader stands for the
    // model last identified on its adapter (USB serial number), else on its
    // real device whatever name reaches it; with none known, only --force
    // sends it a file.
    void bootLoaderGuard_data()
    {
        QTest::addColumn<QStringList>("before");  // an earlier upgrade's meter, left in its boot loader; none if empty
        QTest::addColumn<QStringList>("meter");   // the meter upgraded with --boot; the earlier one if empty
        QTest::addColumn<QString>("name");        // "link": the meter by a link to its device; "adapter": by a
                                                  // device on the earlier one's USB adapter
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QStringList model3B{"--identity", "V,OV3B00009,1.02,2.10"};
        QTest::newRow("normal mode, another model") << QStringList{} << model3B << "" << QStringList{} << 1
                                                    << "meter is model 3B, the file is for model 3A";
        QTest::newRow("normal mode, the file's model") << QStringList{} << QStringList{} << "" << QStringList{} << 0
                                                       << "upgrade complete";
        QTest::newRow("boot loader, no model known") << QStringList{} << QStringList{"--boot"} << "" << QStringList{}
                                                     << 1 << "no model is known for the boot loader on {device}";
        QTest::newRow("boot loader, no model known, forced") << QStringList{} << QStringList{"--boot"} << ""
                                                             << QStringList{"--force"} << 0 << "upgrade complete";
        QTest::newRow("boot loader, known by its device through a link")
            << model3B + QStringList{"--refuse-line", "3", "--refuse-count", "1"} << QStringList{} << "link"
            << QStringList{} << 1 << "the meter last identified on {device} was model 3B, the file is for model 3A";
        QTest::newRow("boot loader, known by its adapter")
            << model3B + QStringList{"--refuse-line", "3", "--refuse-count", "1"} << QStringList{"--boot"} << "adapter"
            << QStringList{} << 1
            << "the meter last identified on the adapter FTGUARD1 was model 3B, the file is for model 3A";
    }

    void bootLoaderGuard()
    {
        QFETCH(QStringList, before);
        QFETCH(QStringList, meter);
        QFETCH(QString, name);
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        FakeSysfs sysfs;
        std::unique_ptr<MeterEmulatorProcess> earlier, later;
        if (!before.isEmpty()) {
            // Identified, sent lines, and left in its boot loader by a refused line.
            earlier = std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing"} + before);
            if (name == "adapter")
                QVERIFY(sysfs.addUsbTty(QFileInfo(earlier->device()).fileName(), "FTGUARD1"));
            const Run r = ovfw({"upgrade", made_.path, "--yes", "--force", "--retries", "0", "--port", "1"},
                               "1=" + earlier->device(), history, sysfs.root());
            QVERIFY2(r.exitCode == 1, qPrintable(r.out + r.err));
        }
        if (!meter.isEmpty() || !earlier)
            later = std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing"} + meter);
        MeterEmulatorProcess &target = later ? *later : *earlier;
        QString device = target.device();
        if (name == "link") {
            device = state.filePath("by-id-meter");
            QVERIFY(QFile::link(target.device(), device));
        } else if (name == "adapter") {
            QVERIFY(sysfs.addUsbTty(QFileInfo(target.device()).fileName(), "FTGUARD1"));
        }
        const qsizetype linesBefore = target.received().count(':');
        const Run r = ovfw(QStringList{"upgrade", made_.path, "--yes", "--boot", "--device", device} + options, {},
                           history, sysfs.root());
        QVERIFY2(r.exitCode == exitCode, qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains(QString(said).replace("{device}", device)), qPrintable(r.out));
        if (exitCode == 0)
            QCOMPARE(HexFiles::readAll(target.imagePath()), made_.image);
        else
            QCOMPARE(target.received().count(':'), linesBefore);  // not a line sent
        // The row names the real device and the adapter.
        const QJsonObject row =
            QJsonDocument::fromJson(ovfw({"history", "--json", "--limit", "1"}, {}, history).out.toUtf8()).object();
        QCOMPARE(row.value("real_device").toString(), QFileInfo(target.device()).canonicalFilePath());
        QCOMPARE(row.value("usb_serial").toString(), name == "adapter" ? QString("FTGUARD1") : QString());
        // A meter named by its device has no port; its rows are found by the
        // name it was given, and by any other name of its device.
        QVERIFY(row.value("port").isNull());
        const QList<int> byName = listedIds(ovfw({"history", "--json", "--device", device}, {}, history).out);
        QVERIFY(byName.contains(row.value("id").toInt()));
        QCOMPARE(listedIds(ovfw({"history", "--json", "--device", target.device()}, {}, history).out), byName);
        QCOMPARE(listedIds(ovfw({"history", "--json", "--device", "/dev/no-such-meter"}, {}, history).out),
                 QList<int>{});
    }

    // --verify: the meter restarted into the file's version is verified, one
    // restarted into the old one is not, and that meter fails; one whose new
    // firmware never starts (it answers as a boot loader) is left there.
    void verifiesTheVersionAfter()
    {
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        MeterEmulators meters;
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing", "--restart-into", "2.11"}));
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing", "--restart-into", "2.10"}));
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing"}));
        const Run r = ovfw(QStringList{"upgrade", made_.path, "--yes", "--verify", "--json"} + portArgs(3),
                           portList(meters), history);
        QVERIFY2(r.exitCode == 1 && r.err.isEmpty(), qPrintable(r.out + r.err));
        QVERIFY2(r.out.contains("verified: firmware 2.11"), qPrintable(r.out));
        QVERIFY2(r.out.contains("not verified: the meter restarted with firmware 2.10, the file gives 2.11"),
                 qPrintable(r.out));
        const QMap<int, QJsonObject> rows = historyByPort(history);
        QCOMPARE(rows.value(1).value("verified").toBool(), true);
        QCOMPARE(rows.value(1).value("firmware_after").toString(), QString("2.11"));
        QCOMPARE(rows.value(2).value("verified").toBool(false), false);
        QCOMPARE(rows.value(2).value("firmware_after").toString(), QString("2.10"));
        QCOMPARE(rows.value(2).value("outcome").toString(), QString("completed"));
        QCOMPARE(rows.value(2).value("left_in_boot_loader").toBool(true), false);
        QCOMPARE(rows.value(3).value("verified").toBool(true), false);
        QCOMPARE(rows.value(3).value("left_in_boot_loader").toBool(false), true);
        QVERIFY2(r.out.contains("not verified: the meter answers only as a boot loader after the upgrade"),
                 qPrintable(r.out));
        for (const QJsonObject &e : events(r.out, "result"))
            QCOMPARE(e.value("left_in_boot_loader").toBool(false), e.value("port").toInt() == 3);
        QCOMPARE(historyByPort(history, {"--failed"}).keys(), (QList<int>{2, 3}));
    }

    // Another file's digest, or anything that is no digest at all (an unset
    // variable, blanks, a cut or mistyped one): no meter is touched.
    void aWrongDigestTouchesNoMeter()
    {
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        const MeterEmulators meters = startNumberedMeters(1);
        QString wrong = digest_;
        wrong[0] = wrong[0] == '0' ? '1' : '0';
        const Run r = ovfw({"upgrade", made_.path, "--yes", "--port", "1", "--sha256", wrong}, portList(meters), history);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(digest_), qPrintable(r.err));
        const QString notDigests[] = {"", "   ", digest_.left(63), digest_ + " ", " " + digest_, digest_ + "0",
                                      digest_.left(63) + "g"};
        for (const QString &value : notDigests) {
            const Run refused =
                ovfw({"upgrade", made_.path, "--yes", "--port", "1", "--sha256", value}, portList(meters), history);
            QVERIFY2(refused.exitCode == 2 && refused.err.contains("64 hex digits"), qPrintable(value + refused.err));
        }
        QVERIFY(meters[0]->received().isEmpty());
        QCOMPARE(rowCount(history), 0);
    }

private:
    QTemporaryDir dir_;
    HexFiles::Made made_;
    QString digest_;
};

QTEST_GUILESS_MAIN(TestOvfwSafeguards)
#include "tst_ovfw_safeguards.moc"
