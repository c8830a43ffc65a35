// ovfw station: a profile refused before any meter is touched, and meters
// plugged into and pulled from a watched folder of links as udev would.
#include "HexFiles.h"
#include "MeterEmulatorProcess.h"
#include "OvfwRig.h"
#include "StationRig.h"
#include "TerminalCapture.h"
#include "upgrade/FileFacts.h"
#include "station/StationProfile.h"
#include <QTemporaryDir>
#include <QSysInfo>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {
constexpr int kFileBytes = 4096;
}

class TestOvfwStation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        made_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), kFileBytes);
        QVERIFY2(!made_.path.isEmpty(), "srec_cat made no file");
        sha_ = FileFacts::sha256Of(made_.path);
        HexFiles::write(dir_.path(), QStringLiteral("OV3A_FW0212.OVH"), ":0100000011EE\r\n:0100000011EE\r\n");
        QVERIFY(QDir(dir_.path()).mkpath("twins") && QFile::link("/dev/null", dir_.filePath("twins/a")) &&
                QFile::link("/dev/null", dir_.filePath("twins/b")));
    }

    // Each refused at start, naming the key and its place; no meter touched.
    void aBadProfileIsRefused_data()
    {
        QTest::addColumn<QString>("profile");
        QTest::addColumn<QString>("said");
        const QString good = QStringLiteral("[station]\nwatch = \"w\"\n[models.3A]\nfile = \"OV3A_FW0211.OVH\"\n"
                                            "sha256 = \"%1\"\n");
        QTest::newRow("not TOML") << "[station]\nwatch = \"w\n" << ":2:";
        QTest::newRow("an unknown key") << good + "retrys = 3\n" << ":6:1: unknown key \"retrys\" in [models.3A]";
        QTest::newRow("watch and sockets")
            << good + "[sockets]\nA = \"/dev/null\"\n" << ":2:9: [station] watch and [sockets] together";
        QTest::newRow("no digest") << "[station]\nwatch = \"w\"\n[models.3A]\nfile = \"OV3A_FW0211.OVH\"\n"
                                   << "[models.3A] has no sha256";
        QTest::newRow("a malformed digest") << good.arg("9f2c") << ":5:10: [models.3A] sha256 must be 64 hex digits";
        QTest::newRow("another file's digest") << good.arg(QString(64, '0')) << "not the profile's";
        QTest::newRow("a missing file")
            << QString(good).replace("0211", "0299") << "file " + dir_.path() + "/OV3A_FW0299.OVH does not exist";
        QTest::newRow("a file that fails its check")
            << QString(good).replace("0211", "0212") << "OV3A_FW0212.OVH fails its check: line 2";
        QTest::newRow("another model's file") << QString(good).replace("models.3A", "models.3B")
                                              << "[models.3B] file " + made_.path + " is for model 3A, not 3B";
        QTest::newRow("another version") << good + "version = \"2.12\"\n"
                                         << ":6:11: [models.3A] version 2.12 differs from the file name's version 2.11";
        QTest::newRow("two watched links, one device")
            << QString(good).replace("watch = \"w\"", "watch = \"twins\"") << ":2:9: [station] watch: links a and b are one device (/dev/null)";
        QTest::newRow("a model in small letters")
            << QString(good).replace("models.3A", "models.3a") << ":3:9: [models.3a]: a model is written as the meter names it: [models.3A]";
        QTest::newRow("watch names a file")
            << QString(good).replace("watch = \"w\"", "watch = \"OV3A_FW0211.OVH\"") << "OV3A_FW0211.OVH is not a folder";
        QTest::newRow("settle is nan")
            << QString(good).replace("watch = \"w\"", "watch = \"w\"\nsettle = nan") << ":3:10: [station] settle must be a number";
        QTest::newRow("two sockets, one device")
            << QString(good).replace("watch = \"w\"", "name = \"s\"") + "[sockets]\nA = \"/dev/null\"\nB = \"/dev/../dev/null\"\n"
            << "sockets A and B are one device (/dev/null)";
    }

    void aBadProfileIsRefused()
    {
        QFETCH(QString, profile);
        QFETCH(QString, said);
        const QString path = HexFiles::write(dir_.path(), QStringLiteral("profile.toml"),
                                             profile.arg(sha_).toUtf8());
        const OvfwRun r = ovfw({"station", path, "--yes"});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(path + said) || r.err.contains(said), qPrintable(r.err));
        QVERIFY2(r.err.contains("No meter was touched."), qPrintable(r.err));
    }

    // The example in docs/ holds every key, each of its type: only its
    // firmware files, which are not there, keep it from being used.
    void theExampleProfileReads()
    {
        const ProfileReading reading = StationProfiles::read(QStringLiteral(EXAMPLE_PROFILE), "host");
        QCOMPARE(reading.profile.name, QString("line2-bench4"));
        QCOMPARE(reading.profile.firmware.size(), 0);
        QStringList kinds;
        for (const ProfileProblem &p : reading.problems)
            kinds << (p.kind == ProfileProblem::Kind::FileRefused ? "file " : "other ") + p.text;
        QCOMPARE(kinds.filter("other").join('\n'), QString());
        QCOMPARE(kinds.size(), 2);
    }

    // Meters plugged into a watched folder, one the way udev does it (a
    // dot-name renamed into place): the old one upgraded, the current one
    // left alone, the other model not touched, a boot loader nobody left
    // there not touched either, one pulled mid-file and taken up again when
    // it is plugged back in its boot loader.
    void metersArePluggedAndPulled()
    {
        StationRig station;
        const QString watched = station.path("by-path");  // made after the station starts
        station.start("[station]\nname = \"bench\"\nwatch = \"by-path\"\nsettle = 0.1\n", made_.path,
                      {"--json", "--operator", "Ana"});
        QTRY_VERIFY_WITH_TIMEOUT(station.process.state() == QProcess::Running, 5000);
        QTest::qWait(300);
        QVERIFY(QDir().mkpath(watched));

        const auto meter = [&](const QString &socket, const QStringList &args) {
            return std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing", "--link", watched + '/' + socket} + args);
        };
        auto old = meter("A", {"--restart-into", "2.11"});
        auto current = meter("B", {"--identity", "V,OV3A00002,1.02,2.11"});
        auto otherModel = meter("C", {"--identity", "V,OV3B00003,1.02,2.10"});
        auto strayBootLoader = meter("E", {"--boot"});
        // udev's way: a temporary dot-name, renamed into place.
        auto renamed = std::make_unique<MeterEmulatorProcess>(
            QStringList{"--no-pacing", "--link", watched + "/.D.tmp", "--identity", "V,OV3A00004,1.02,2.10",
                        "--reply-delay", "20"});
        QVERIFY(QFile::rename(watched + "/.D.tmp", watched + "/D"));
        // Pulled once it has taken a few lines: the emulator gone, its link removed.
        QTRY_VERIFY_WITH_TIMEOUT(renamed->wire().size() > 20, 20000);
        renamed.reset();
        QFile::remove(watched + "/D");
        QTest::qWait(500);
        auto replugged = meter("D", {"--boot", "--restart-into", "2.11", "--identity", "V,OV3A00004,1.02,2.10"});

        QTRY_VERIFY_WITH_TIMEOUT((HexFiles::readAll(old->imagePath()) == made_.image &&
                                  HexFiles::readAll(replugged->imagePath()) == made_.image) ||
                                     station.process.state() != QProcess::Running,
                                 30000);
        QTest::qWait(2000);  // its verification
        const OvfwRun r = station.stop();
        QVERIFY2(HexFiles::readAll(old->imagePath()) == made_.image, qPrintable(r.out + r.err));
        QVERIFY2(HexFiles::readAll(replugged->imagePath()) == made_.image, qPrintable(r.out + r.err));
        QMap<QString, QStringList> results;  // by socket, in turn
        for (const QJsonObject &e : events(r.out, "result"))
            results[e.value("socket").toString()] << e.value("result").toString() + ": " + e.value("message").toString();
        QCOMPARE(events(r.out, "station").value(0).value("watch").toString(), watched);
        QCOMPARE(results.value("A"), QStringList{"completed: upgrade complete, verified: firmware 2.11"});
        QCOMPARE(results.value("B"), QStringList{"current: firmware 2.11"});
        QCOMPARE(results.value("C"), QStringList{"not_touched: no firmware for model 3B in this profile"});
        QCOMPARE(results.value("E"), QStringList{"not_touched: it answers only as a boot loader, and no meter of a "
                                                 "known model was left in one here"});
        QVERIFY(!strayBootLoader->wire().isEmpty());
        for (const MeterEmulatorProcess::Burst &b : strayBootLoader->wire())
            QVERIFY2(!b.bytes.contains("\xC2\xD4"), "a boot loader nobody left there was switched");
        QCOMPARE(results.value("D").size(), 2);
        QVERIFY2(results.value("D").first().startsWith("failed: removed at line"), qPrintable(r.out));
        QCOMPARE(results.value("D").last(), QString("completed: upgrade complete, verified: firmware 2.11"));
        QVERIFY(!current->wire().isEmpty());
        for (const MeterEmulatorProcess::Burst &b : current->wire())
            QVERIFY2(!b.bytes.contains("\xC2\xD4"), "a current meter was switched");
        QCOMPARE(r.exitCode, 1);  // the pulled meter failed

        // One row per meter seen, each as it ended, with where and by whom.
        QStringList outcomes;
        for (const QJsonObject &row : station.history({"--station", "bench"})) {
            outcomes << row.value("serial").toString() + ' ' + row.value("outcome").toString();
            QCOMPARE(row.value("operator").toString(), QString("Ana"));
            QCOMPARE(row.value("profile_sha256").toString(), FileFacts::sha256Of(station.profile));
            QVERIFY(row.value("port").isNull());
        }
        const QList<QJsonObject> socketA = station.history({"--socket", "A"});
        QCOMPARE(socketA.size(), 1);
        QCOMPARE(socketA.first().value("serial").toString(), QString("OV3A01234"));
        QCOMPARE(socketA.first().value("firmware_after").toString(), QString("2.11"));
        outcomes.sort();
        QCOMPARE(outcomes, (QStringList{" model_unknown", "OV3A00002 current", "OV3A00004 completed",
                                        "OV3A00004 failed", "OV3A01234 completed", "OV3B00003 no_firmware"}));
    }

    // An adapter that stays plugged, its meter swapped on the cable: the
    // idle socket is asked until a meter answers; the next one is looked
    // for once it has stopped answering.
    void aFixedSocketFindsEachMeter()
    {
        StationRig station;
        const QString cable = station.path("cable");
        station.start("[station]\nname = \"fixed\"\n[sockets]\nA = \"cable\"\n", made_.path, {"--json"});
        QTest::qWait(1500);  // asked, and nobody there
        {
            MeterEmulatorProcess old({"--no-pacing", "--restart-into", "2.11"});
            QVERIFY(QFile::link(old.device(), cable));
            QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(old.imagePath()) == made_.image, 30000);
            QTest::qWait(3000);  // verified
            QFile::remove(cable);
        }
        MeterEmulatorProcess next({"--no-pacing", "--identity", "V,OV3A00009,1.02,2.11"});
        QTest::qWait(2500);  // the first one found gone
        QVERIFY(QFile::link(next.device(), cable));
        QTRY_VERIFY_WITH_TIMEOUT(!next.wire().isEmpty(), 20000);
        QTest::qWait(3000);
        const OvfwRun r = station.stop();
        QStringList results;
        for (const QJsonObject &e : events(r.out, "result"))
            results << e.value("serial").toString() + ' ' + e.value("result").toString();
        QCOMPARE(results, (QStringList{"OV3A01234 completed", "OV3A00009 current"}));
        QCOMPARE(r.exitCode, 0);
    }

    // A stop lets the meter in flight finish its line: it is interrupted,
    // the exit status says so and the summary says how to finish it. A
    // second stop ends the station at once, naming the socket's meter.
    void aStopLeavesTheMeterFinishable_data()
    {
        QTest::addColumn<bool>("twice");
        QTest::newRow("one stop") << false;
        QTest::newRow("two stops") << true;
    }

    void aStopLeavesTheMeterFinishable()
    {
        QFETCH(bool, twice);
        StationRig station;
        const QString watched = station.path("w");
        QVERIFY(QDir().mkpath(watched));
        station.start("[station]\nwatch = \"w\"\nsettle = 0\n", made_.path);
        MeterEmulatorProcess m({"--no-pacing", "--reply-delay", "100", "--link", watched + "/A"});
        QTRY_VERIFY_WITH_TIMEOUT(m.wire().size() > 12, 20000);
        if (twice)
            QVERIFY(signalTwiceInALine(station.process.processId(), SIGINT, m));
        else
            station.signal(SIGINT);
        const OvfwRun r = finishOvfw(station.process);
        const QString finish = QStringLiteral("  ovfw upgrade '%1' --boot --device '%2'\n").arg(made_.path, watched + "/A");
        if (twice) {
            QCOMPARE(r.exitCode, -1);  // ended by the signal
            QVERIFY2(r.err.contains("Socket A may be in its boot loader; finish it with:\n" + finish), qPrintable(r.err));
            return;
        }
        QCOMPARE(r.exitCode, 130);
        QVERIFY2(r.out.startsWith(QStringLiteral("station %1: watching %2 for sockets\n").arg(QSysInfo::machineHostName(), watched)),
                 qPrintable(r.out));
        QVERIFY2(r.out.contains("  stopped after line"), qPrintable(r.out));
        QVERIFY2(r.out.contains("Socket A (OV3A01234) is left in its boot loader; finish it with:\n" + finish),
                 qPrintable(r.out));
    }

    // On a terminal the board is redrawn in place, each line within the
    // terminal's width, and it shows the meter's way through the station.
    void theBoardFitsTheTerminal_data()
    {
        QTest::addColumn<int>("columns");
        QTest::newRow("80 columns") << 80;
        QTest::newRow("40 columns") << 40;
    }

    void theBoardFitsTheTerminal()
    {
        QFETCH(int, columns);
        TerminalCapture terminal(columns);
        QVERIFY(terminal.isOpen());
        StationRig station;
        QVERIFY(QDir().mkpath(station.path("w")));
        terminal.attach(station.process);
        station.start("[station]\nname = \"a-station-with-a-rather-long-name\"\nwatch = \"w\"\nsettle = 0\n", made_.path);
        MeterEmulatorProcess m(
            {"--no-pacing", "--reply-delay", "5", "--restart-into", "2.11", "--link", station.path("w/A")});
        QTRY_VERIFY_WITH_TIMEOUT(terminal.drain().contains("done: "), 30000);
        station.signal(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT((terminal.drain(), station.process.state() == QProcess::NotRunning), kOvfwTimeoutMs);
        terminal.drain();
        terminal.close();
        QCOMPARE(station.process.exitCode(), 0);
        QStringList states;
        for (const TerminalCapture::Line &line : terminal.redrawnLines()) {
            QVERIFY2(line.text.size() < columns, line.text.constData());
            if (line.text.startsWith("A "))  // socket, serial, then its state
                states << QString::fromLatin1(line.text.mid(26)).section(' ', 0, 0);
        }
        states.removeDuplicates();
        QVERIFY2(states.contains("identifying") && states.contains("done:"), qPrintable(states.join('|')));
    }

private:
    QTemporaryDir dir_;
    HexFiles::Made made_;
    QString sha_;
};

QTEST_GUILESS_MAIN(TestOvfwStation)
#include "tst_ovfw_station.moc"
