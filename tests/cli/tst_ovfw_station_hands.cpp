// ovfw station under real hands and real udev: links that bounce, meters
// swapped or pulled at the worst moment, a firmware that never starts. Every
// meter in a socket after the last plug is handled once, and a result counts
// only for the meter that earned it.
#include "HexFiles.h"
#include "MeterEmulatorProcess.h"
#include "StationRig.h"
#include <QtTest>
#include <functional>
#include <memory>
#include <vector>

namespace {
constexpr int kFileBytes = 4096;
constexpr int kEndMs = 60000;  // a whole case, verification included

using Meter = std::unique_ptr<MeterEmulatorProcess>;

Meter meter(const QString &serial, const QStringList &args = {})
{
    return std::make_unique<MeterEmulatorProcess>(
        QStringList{"--no-pacing", "--identity", QStringLiteral("V,%1,1.02,2.10").arg(serial)} + args);
}

// A link made by hand, as udev makes it: under a dot-name, renamed into place.
bool plug(const QString &socket, const Meter &m)
{
    const QString temporary = QFileInfo(socket).path() + "/." + QFileInfo(socket).fileName() + ".tmp";
    return QFile::link(m->device(), temporary) && ::rename(qPrintable(temporary), qPrintable(socket)) == 0;
}

// Pulled: the meter's device goes, and udev removes its link.
bool pull(const QString &socket, const Meter &m)
{
    m->stop();
    return QFile::remove(socket);
}

bool endRecordAnswered(const Meter &m)
{
    return m->received().contains(":00000001FF");
}

// What each row of the history says, in the order written.
QStringList rowsOf(StationRig &station)
{
    QStringList rows;
    const QList<QJsonObject> history = station.history({});
    for (auto it = history.crbegin(); it != history.crend(); ++it) {
        const QJsonObject &r = *it;
        QString row = r.value("serial").toString() + ' ' + r.value("outcome").toString();
        if (r.value("outcome").toString() == "failed")
            row += " (" + r.value("error_text").toString().section(' ', 0, 2) + ')';
        if (!r.value("verified").isNull())
            row += r.value("verified").toBool() ? " verified" : " not verified";
        row += r.value("left_in_boot_loader").isNull()   ? " boot loader unknown"
               : r.value("left_in_boot_loader").toBool() ? " in boot loader"
                                                         : "";
        rows << row;
    }
    return rows;
}
}

class TestOvfwStationHands : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        made_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), kFileBytes);
        QVERIFY2(!made_.path.isEmpty(), "srec_cat made no file");
    }

    void eachMeterIsHandledOnceAndKeepsItsOwnResult_data()
    {
        // What the hands do, given the watched folder; the meters they
        // plug stay in `plugged`, and those that must hold the file in `upgraded`.
        using Hands = std::function<void(StationRig &, const QString &, std::vector<Meter> &, QList<MeterEmulatorProcess *> &)>;
        QTest::addColumn<Hands>("hands");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("said");  // in the results, in turn
        QTest::addColumn<int>("exitCode");

        QTest::newRow("a link bounces during its settle time, another meter behind it")
            << Hands([](StationRig &, const QString &w, std::vector<Meter> &plugged, QList<MeterEmulatorProcess *> &upgraded) {
                   plugged.push_back(meter("OV3A00001", {"--restart-into", "2.11"}));
                   plugged.push_back(meter("OV3A00002", {"--restart-into", "2.11"}));
                   QVERIFY(plug(w + "/A", plugged[0]));
                   QTest::qWait(100);
                   QVERIFY(QFile::remove(w + "/A") && plug(w + "/A", plugged[1]));
                   upgraded << plugged[1].get();
                   QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(plugged[1]->imagePath()).size() > 0, kEndMs);
                   QTest::qWait(1500);  // verified
                   QVERIFY2(plugged[0]->wire().isEmpty(), "the bounced meter was spoken to");
               })
            << QStringList{"OV3A00002 completed verified"} << "A completed" << 0;

        QTest::newRow("three links made and removed ten times in a second, then left")
            << Hands([](StationRig &, const QString &w, std::vector<Meter> &plugged, QList<MeterEmulatorProcess *> &upgraded) {
                   for (const QString serial : {"OV3A00011", "OV3A00012", "OV3A00013"}) {
                       plugged.push_back(meter(serial, {"--restart-into", "2.11"}));
                       upgraded << plugged.back().get();
                   }
                   const QStringList sockets{"A", "B", "C"};
                   for (int round = 0; round < 10; ++round) {
                       for (int i = 0; i < 3; ++i)
                           QVERIFY(plug(w + '/' + sockets[i], plugged[i]));
                       QTest::qWait(40);
                       for (const QString &s : sockets)
                           QVERIFY(QFile::remove(w + '/' + s));
                       QTest::qWait(40);
                   }
                   for (int i = 0; i < 3; ++i)
                       QVERIFY(plug(w + '/' + sockets[i], plugged[i]));
                   for (MeterEmulatorProcess *m : upgraded)
                       QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(m->imagePath()).size() > 0, kEndMs);
                   QTest::qWait(1500);
               })
            << QStringList{"OV3A00011 completed verified", "OV3A00012 completed verified", "OV3A00013 completed verified"}
            << "A completed|B completed|C completed" << 0;

        // The upgraded meter stays in its boot loader and is pulled after its
        // end record; the next one in its socket is another meter.
        for (const bool current : {true, false}) {
            QTest::newRow(current ? "swapped during verification for a current meter"
                                  : "pulled during verification, an old meter plugged next")
                << Hands([current](StationRig &, const QString &w, std::vector<Meter> &plugged, QList<MeterEmulatorProcess *> &upgraded) {
                       plugged.push_back(meter("OV3A00021"));
                       upgraded << plugged[0].get();
                       QVERIFY(plug(w + "/A", plugged[0]));
                       QTRY_VERIFY_WITH_TIMEOUT(endRecordAnswered(plugged[0]), kEndMs);
                       QTest::qWait(300);
                       QVERIFY(pull(w + "/A", plugged[0]));
                       plugged.push_back(current ? meter("OV3A00022", {"--identity", "V,OV3A00022,1.02,2.11"})
                                                  : meter("OV3A00022", {"--restart-into", "2.11"}));
                       QVERIFY(plug(w + "/A", plugged[1]));
                       if (!current)
                           upgraded << plugged[1].get();
                       QTRY_VERIFY_WITH_TIMEOUT(!plugged[1]->wire().isEmpty(), kEndMs);
                       QTest::qWait(current ? 2500 : 4000);
                   })
                << QStringList{"OV3A00021 completed not verified boot loader unknown",
                               current ? "OV3A00022 current" : "OV3A00022 completed verified"}
                << (current ? "A failed|A current" : "A failed|A completed") << 1;
        }

        QTest::newRow("pulled mid-file and plugged again at once, in its boot loader")
            << Hands([](StationRig &, const QString &w, std::vector<Meter> &plugged, QList<MeterEmulatorProcess *> &upgraded) {
                   plugged.push_back(meter("OV3A00031", {"--reply-delay", "20"}));
                   QVERIFY(plug(w + "/A", plugged[0]));
                   QTRY_VERIFY_WITH_TIMEOUT(plugged[0]->wire().size() > 20, kEndMs);
                   QVERIFY(pull(w + "/A", plugged[0]));
                   plugged.push_back(meter("OV3A00031", {"--boot", "--restart-into", "2.11"}));
                   QVERIFY(plug(w + "/A", plugged[1]));
                   upgraded << plugged[1].get();
                   QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(plugged[1]->imagePath()).size() > 0, kEndMs);
                   QTest::qWait(1500);
               })
            << QStringList{"OV3A00031 failed (removed at line) in boot loader", "OV3A00031 completed verified"}
            << "A failed|A completed" << 1;

        QTest::newRow("a link renamed over the link of a meter already handled")
            << Hands([](StationRig &station, const QString &w, std::vector<Meter> &plugged, QList<MeterEmulatorProcess *> &upgraded) {
                   plugged.push_back(meter("OV3A00041", {"--identity", "V,OV3A00041,1.02,2.11"}));
                   plugged.push_back(meter("OV3A00042", {"--restart-into", "2.11"}));
                   QVERIFY(plug(w + "/A", plugged[0]));
                   QTRY_VERIFY_WITH_TIMEOUT(rowsOf(station).size() == 1, kEndMs);
                   QVERIFY(plug(w + "/A", plugged[1]));  // udev's rename, over the old link
                   upgraded << plugged[1].get();
                   QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(plugged[1]->imagePath()).size() > 0, kEndMs);
                   QTest::qWait(1500);
               })
            << QStringList{"OV3A00041 current", "OV3A00042 completed verified"} << "A current|A completed" << 0;

        QTest::newRow("a misheard meter, and a second link to a meter's device")
            << Hands([](StationRig &, const QString &w, std::vector<Meter> &plugged, QList<MeterEmulatorProcess *> &upgraded) {
                   plugged.push_back(meter("OV3A00051", {"--garble"}));
                   plugged.push_back(meter("OV3A00052", {"--restart-into", "2.11"}));
                   QVERIFY(plug(w + "/A", plugged[0]));
                   QVERIFY(plug(w + "/B", plugged[1]));
                   QTest::qWait(100);
                   QVERIFY(plug(w + "/C", plugged[1]));  // the same device again
                   upgraded << plugged[1].get();
                   QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(plugged[1]->imagePath()).size() > 0, kEndMs);
                   QTest::qWait(3000);
                   for (const MeterEmulatorProcess::Burst &b : plugged[0]->wire())
                       QVERIFY2(!b.bytes.contains("\xC2\xD4"), "a misheard meter was switched");
               })
            << QStringList{" unidentified", "OV3A00052 completed verified"}
            << "A not_touched|B completed|C not_touched: the device is held by socket B" << 0;
    }

    void eachMeterIsHandledOnceAndKeepsItsOwnResult()
    {
        QFETCH(std::function<void(StationRig &, const QString &, std::vector<Meter> &, QList<MeterEmulatorProcess *> &)>, hands);
        QFETCH(QStringList, rows);
        QFETCH(QString, said);
        QFETCH(int, exitCode);
        StationRig station;
        const QString watched = station.path("by-path");
        QVERIFY(QDir().mkpath(watched));
        station.start("[station]\nname = \"hands\"\nwatch = \"by-path\"\nsettle = 0.3\n", made_.path, {"--json"});
        QTRY_VERIFY_WITH_TIMEOUT(station.process.state() == QProcess::Running, 5000);
        std::vector<Meter> plugged;
        QList<MeterEmulatorProcess *> upgraded;
        hands(station, watched, plugged, upgraded);
        if (QTest::currentTestFailed())
            return;
        const OvfwRun r = station.stop();
        for (MeterEmulatorProcess *m : upgraded)
            QVERIFY2(HexFiles::readAll(m->imagePath()) == made_.image, qPrintable(r.out + r.err));
        QStringList written = rowsOf(station);
        written.sort();
        rows.sort();
        QVERIFY2(written == rows, qPrintable(written.join('\n') + "\n---\n" + r.out + r.err));
        QStringList results;
        for (const QJsonObject &e : events(r.out, "result"))
            if (e.value("result").toString() != "no_meter")
                results << e.value("socket").toString() + ' ' + e.value("result").toString() +
                               (e.value("message").toString().startsWith("the device is held")
                                    ? ": " + e.value("message").toString()
                                    : QString());
        for (const QString &expected : said.split('|'))
            QVERIFY2(results.contains(expected), qPrintable(results.join('\n') + "\n---\n" + r.out + r.err));
        QCOMPARE(results.size(), said.split('|').size());
        QCOMPARE(r.exitCode, exitCode);
    }

    // The new firmware never starts: the meter answers as a boot loader
    // after its end record. It is said to be left there, with the command
    // that finishes it, and a fixed socket takes it up again once it has
    // been away and comes back.
    void aFirmwareThatNeverStartsIsTakenUpAgain()
    {
        StationRig station;
        const QString cable = station.path("cable");
        station.start("[station]\nname = \"fixed\"\n[sockets]\nA = \"cable\"\n", made_.path);
        Meter first = meter("OV3A00061");
        QVERIFY(QFile::link(first->device(), cable));
        QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(first->imagePath()) == made_.image, kEndMs);
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(station) == QStringList{"OV3A00061 completed not verified in boot loader"}, kEndMs);
        QVERIFY(pull(cable, first));
        QTest::qWait(2500);  // the socket heard empty
        Meter again = meter("OV3A00061", {"--boot", "--restart-into", "2.11"});
        QVERIFY(QFile::link(again->device(), cable));
        QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(again->imagePath()) == made_.image, kEndMs);
        QTest::qWait(3000);
        const OvfwRun r = station.stop();
        QVERIFY2(r.out.startsWith("station fixed: asking sockets A (" + cable + ")\n"), qPrintable(r.out));
        QCOMPARE(rowsOf(station), (QStringList{"OV3A00061 completed not verified in boot loader",
                                               "OV3A00061 completed verified"}));
        QVERIFY2(r.out.contains("FAILED: not verified: the meter answers only as a boot loader"), qPrintable(r.out));
        // The summary names the socket once, with its latest state.
        const QString summary = r.out.section("stopped: ", 1);
        QCOMPARE(summary.count(QRegularExpression("^A ", QRegularExpression::MultilineOption)), 1);
        QVERIFY2(summary.contains("done: upgrade complete, verified: firmware 2.11"), qPrintable(r.out));
        QCOMPARE(r.exitCode, 1);
    }

    // Another meter answers on a fixed socket's cable after the upgrade, as
    // when it is swapped there during the verification: the upgraded one is
    // not verified, and the other is a meter of its own.
    void aMeterSwappedOnTheCableIsAnotherMeter()
    {
        StationRig station;
        const QString cable = station.path("cable");
        station.start("[station]\nname = \"fixed\"\n[sockets]\nA = \"cable\"\n", made_.path,
                      {"--json", "--log", station.path("logs")});
        Meter m = meter("OV3A00081", {"--restart-into", "2.11", "--swapped-for", "OV3A00082"});
        QVERIFY(QFile::link(m->device(), cable));
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(station).size() == 2, kEndMs);
        const OvfwRun r = station.stop();
        QVERIFY2(HexFiles::readAll(m->imagePath()) == made_.image, qPrintable(r.out + r.err));
        QCOMPARE(rowsOf(station), (QStringList{"OV3A00081 completed not verified boot loader unknown", "OV3A00082 current"}));
        QStringList results;
        for (const QJsonObject &e : events(r.out, "result"))
            results << e.value("result").toString() + ": " + e.value("message").toString();
        QCOMPARE(results, (QStringList{"failed: not verified: removed; meter OV3A00082 answers in its place",
                                       "current: firmware 2.11"}));
        // A transcript per meter, by socket, serial and start time.
        QStringList logs = QDir(station.path("logs")).entryList(QDir::Files);
        QCOMPARE(logs.size(), 2);
        QVERIFY2(QRegularExpression("^A-OV3A00081-\\d{8}T\\d{6}\\.log$").match(logs.value(0)).hasMatch(), qPrintable(logs.join(' ')));
        QVERIFY2(logs.value(1).startsWith("A-OV3A00082-"), qPrintable(logs.join(' ')));
    }

    // A stop during the verification is a stop, not the meter's failure.
    void aStopDuringVerificationIsAStop()
    {
        StationRig station;
        QVERIFY(QDir().mkpath(station.path("w")));
        station.start("[station]\nwatch = \"w\"\nsettle = 0\n", made_.path, {"--json"});
        Meter m = meter("OV3A00071");
        QVERIFY(plug(station.path("w/A"), m));
        QTRY_VERIFY_WITH_TIMEOUT(endRecordAnswered(m), kEndMs);
        QTest::qWait(500);
        const OvfwRun r = station.stop();
        const QList<QJsonObject> results = events(r.out, "result");
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().value("result").toString(), QString("interrupted"));
        QCOMPARE(results.first().value("message").toString(), QString("verification stopped"));
        QCOMPARE(r.exitCode, 130);
        const QJsonObject counts = events(r.out, "summary").value(0).value("counts").toObject();
        QCOMPARE(counts.value("upgraded").toInt() + counts.value("failed").toInt(), 0);
    }

private:
    QTemporaryDir dir_;
    HexFiles::Made made_;
};

QTEST_GUILESS_MAIN(TestOvfwStationHands)
#include "tst_ovfw_station_hands.moc"
