// Meters that answer late, against one ovfw run: every answer must count for
// the line it answers, so no meter is reported upgraded with a wrong image,
// and every meter that took every line is reported upgraded. Each case runs
// once as it is and once with one line refused.
#include "HexFiles.h"
#include "OvfwRig.h"
#include <QtTest>

namespace {
constexpr int kFileBytes = 0x600;  // 48 data records of 32 bytes
const QStringList kOneRefusedLine{"--refuse-line", "10", "--refuse-count", "1"};

struct LateCase {
    const char *name;
    QStringList switches;
    const char *result;   // "completed" or "failed"
    const char *message;  // the result's message contains this
};

const std::vector<LateCase> kCases = {
    {"every answer just past its window", {"--late-reply", "310"}, "completed", "upgrade complete"},
    {"every 8th line answered as after a page erase", {"--slow-lines", "8:700"}, "completed", "upgrade complete"},
    {"the switch acknowledged a second late", {"--switch-delay", "1000"}, "completed", "upgrade complete"},
    {"the end record answered after a 2 s commit", {"--commit-delay", "2000"}, "completed", "upgrade complete"},
    // The end record's answer is lost ({lines}: the file's line count).
    {"the end record never answered, the meter restarts into the file's version",
     {"--drop-reply-every", "{lines}", "--restart-into", "3.00"}, "completed", "verified"},
    {"the end record never answered, the meter stays silent",
     {"--commit-delay", "60000"}, "failed", "end record unconfirmed"},
};
}

class TestOvfwLateAnswers : public QObject {
    Q_OBJECT
private slots:
    void noLateAnswerCountsForAnotherLine()
    {
        QTemporaryDir dir;
        const HexFiles::Made made = HexFiles::make(dir.path(), QStringLiteral("OV3A_FW0300.OVH"), kFileBytes);
        QVERIFY2(!made.path.isEmpty(), "srec_cat made no file");
        struct Meter {
            QString name;
            const LateCase *c;
            std::unique_ptr<MeterEmulatorProcess> emulator;
        };
        std::vector<Meter> meters;
        QStringList args{QStringLiteral("upgrade"), made.path, QStringLiteral("--yes"), QStringLiteral("--json")};
        for (const LateCase &c : kCases) {
            for (const bool refused : {false, true}) {
                const QString name = QString::fromLatin1(c.name) + (refused ? ", line 10 refused once" : "");
                QStringList switches = c.switches + (refused ? kOneRefusedLine : QStringList{});
                switches.replaceInStrings(QStringLiteral("{lines}"), QString::number(made.lines));
                auto emulator = std::make_unique<MeterEmulatorProcess>(switches);
                QVERIFY2(emulator->started(), qPrintable(name));
                args << QStringLiteral("--device") << emulator->device();
                meters.push_back({name, &c, std::move(emulator)});
            }
        }
        const OvfwRun run = ovfw(args);
        const QMap<QString, QJsonObject> results = resultsByDevice(run.out);
        for (const Meter &m : meters) {
            const QJsonObject r = results.value(m.emulator->device());
            const QString seen = m.name + QStringLiteral(": ") + QString::fromUtf8(QJsonDocument(r).toJson());
            const QString result = r.value("result").toString();
            // Never "completed" with an image other than srec_cat's reading of the file.
            if (result == QLatin1String("completed"))
                QVERIFY2(HexFiles::readAll(m.emulator->imagePath()) == made.image, qPrintable("wrong image: " + seen));
            QVERIFY2(result == QLatin1String(m.c->result), qPrintable(seen));
            QVERIFY2(r.value("message").toString().contains(QLatin1String(m.c->message)), qPrintable(seen));
            if (result == QLatin1String("failed"))
                QVERIFY2(r.value("left_in_boot_loader").isNull(), qPrintable(seen));
        }
        QCOMPARE(run.exitCode, 1);  // the silent end record fails, and only it
    }
};

QTEST_GUILESS_MAIN(TestOvfwLateAnswers)
#include "tst_ovfw_late_answers.moc"
