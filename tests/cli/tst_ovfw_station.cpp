// ovfw station: a profile refused before any meter is touched, and meters
// plugged into and pulled from a watched folder of links as udev would.
#include "HexFiles.h"
#include "OvfwRig.h"
#include <QCryptographicHash>
#include <QtTest>
#include <csignal>

namespace {
constexpr int kFileBytes = 4096;

QString digestOf(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
}
}

class TestOvfwStation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        made_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), kFileBytes);
        QVERIFY2(!made_.path.isEmpty(), "srec_cat made no file");
        sha_ = digestOf(made_.path);
        bad_ = HexFiles::write(dir_.path(), QStringLiteral("OV3A_FW0212.OVH"), ":0100000011EE\r\n:0100000011EE\r\n");
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
                                         << ":6:11: [models.3A] version 2.12 differs from the file name's version 02.11";
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

    // Meters plugged into a watched folder, one the way udev does it (a
    // dot-name renamed into place): the old one upgraded, the current one
    // left alone, the other model not touched, one pulled mid-file.
    void metersArePluggedAndPulled()
    {
        QTemporaryDir station;
        const QString watched = station.filePath("by-path");  // made after the station starts
        const QString profile = HexFiles::write(
            station.path(), QStringLiteral("profile.toml"),
            QStringLiteral("[station]\nname = \"bench\"\nwatch = \"by-path\"\nsettle = 0.1\n[models.3A]\nfile = \"%1\"\n"
                           "sha256 = \"%2\"\n")
                .arg(made_.path, sha_)
                .toUtf8());
        const QString history = station.filePath("history.sqlite");
        QProcess p;
        startOvfw(p, {"station", profile, "--yes", "--json"}, {}, history);
        QTRY_VERIFY_WITH_TIMEOUT(p.state() == QProcess::Running, 5000);
        QTest::qWait(300);
        QVERIFY(QDir().mkpath(watched));

        const auto meter = [&](const QString &socket, const QStringList &args) {
            return std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing", "--link", watched + '/' + socket} + args);
        };
        auto old = meter("A", {"--restart-into", "2.11"});
        auto current = meter("B", {"--identity", "V,OV3A00002,1.02,2.11"});
        auto otherModel = meter("C", {"--identity", "V,OV3B00003,1.02,2.10"});
        // udev's way: a temporary dot-name, renamed into place.
        auto renamed = std::make_unique<MeterEmulatorProcess>(
            QStringList{"--no-pacing", "--link", watched + "/.D.tmp", "--identity", "V,OV3A00004,1.02,2.10",
                        "--reply-delay", "20"});
        QVERIFY(QFile::rename(watched + "/.D.tmp", watched + "/D"));
        // Pulled once it has taken a few lines: the emulator gone, its link removed.
        QTRY_VERIFY_WITH_TIMEOUT(renamed->wire().size() > 20, 20000);
        renamed.reset();
        QFile::remove(watched + "/D");

        QTRY_VERIFY_WITH_TIMEOUT(HexFiles::readAll(old->imagePath()) == made_.image || p.state() != QProcess::Running,
                                 30000);
        QTest::qWait(2000);  // its verification
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        const OvfwRun r = finishOvfw(p);
        QVERIFY2(HexFiles::readAll(old->imagePath()) == made_.image, qPrintable(r.out + r.err));
        QMap<QString, QJsonObject> results;
        for (const QJsonObject &e : events(r.out, "result"))
            results.insert(e.value("socket").toString(), e);
        QCOMPARE(results.value("A").value("result").toString(), QString("completed"));
        QCOMPARE(results.value("B").value("result").toString(), QString("current"));
        QCOMPARE(results.value("C").value("result").toString(), QString("not_touched"));
        QCOMPARE(results.value("C").value("message").toString(), QString("no firmware for model 3B in this profile"));
        QCOMPARE(results.value("D").value("result").toString(), QString("failed"));
        QVERIFY2(results.value("D").value("message").toString().startsWith("removed at line"), qPrintable(r.out));
        QVERIFY(!current->wire().isEmpty());
        QVERIFY2(!current->received().contains("\xC2\xD4"), "a current meter was switched");
        QCOMPARE(r.exitCode, 1);  // the pulled meter failed

        // One row per meter seen, each as it ended.
        QMap<QString, QString> outcomes;
        for (const QString &line : ovfw({"history", "--json"}, {}, history).out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject row = QJsonDocument::fromJson(line.toUtf8()).object();
            outcomes.insert(row.value("serial").toString(), row.value("outcome").toString());
        }
        QCOMPARE(outcomes, (QMap<QString, QString>{{"OV3A01234", "completed"},
                                                   {"OV3A00002", "current"},
                                                   {"OV3B00003", "no_firmware"},
                                                   {"OV3A00004", "failed"}}));
    }

private:
    QTemporaryDir dir_;
    HexFiles::Made made_;
    QString sha_;
    QString bad_;
};

QTEST_GUILESS_MAIN(TestOvfwStation)
#include "tst_ovfw_station.moc"
