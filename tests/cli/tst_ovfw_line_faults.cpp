// ovfw against meters on a poor line: noise, lost acknowledgements and a
// meter restarting mid-file, one meter each from the emulator's fault
// switches, all named by device in one run, and what ovfw makes of them.
#include "HexFiles.h"
#include "OvfwRig.h"
#include <QtTest>

namespace {
constexpr int kFileBytes = 32 * 1024;
// Enough that on the noisiest line no single line runs out of retries before
// the line quality is judged.
constexpr int kRetries = 6;

struct Fault {
    const char *name;
    QStringList switches;
    const char *result;   // "completed" or "failed"
    int leastRetries;     // at least this many
    const char *message;  // the result's message contains this
    const char *event;    // an event the meter must have had, or ""
};

// Seeds are fixed: the same flips fall on the same bit positions of the wire.
const std::vector<Fault> kFaults = {
    {"noise forces retries, the file gets through",
     {"--noise", "3e-5", "--seed", "11"}, "completed", 1, "upgrade complete", ""},
    {"a meter restarting mid-file is sent the file again",
     {"--reset-at", "300"}, "completed", 1, "upgrade complete", "meter_restarted"},
    {"a lost acknowledgement: the line is sent again",
     {"--drop-reply-every", "200"}, "completed", 5, "upgrade complete", ""},
    {"every acknowledgement lost: restarts are presumed, never claimed",
     {"--drop-reply-every", "1"}, "failed", 1, "presumed restarts", "meter_restarted"},
    {"a line too noisy stops early",
     {"--noise", "2.5e-4", "--seed", "3"}, "failed", 1, "line quality", ""},
};
}

class TestOvfwLineFaults : public QObject {
    Q_OBJECT
private slots:
    void eachFaultEndsAsItShould()
    {
        QTemporaryDir dir, logs;
        const HexFiles::Made made = HexFiles::make(dir.path(), QStringLiteral("OV3A_FW0210.OVH"), kFileBytes);
        QVERIFY2(!made.path.isEmpty(), "srec_cat made no file");
        MeterEmulators meters;
        QStringList args{QStringLiteral("upgrade"), made.path, QStringLiteral("--yes"), QStringLiteral("--json"),
                         QStringLiteral("--retries"), QString::number(kRetries), QStringLiteral("--log"), logs.path()};
        for (const Fault &f : kFaults) {
            meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing"} + f.switches));
            QVERIFY(meters.back()->started());
            args << QStringLiteral("--device") << meters.back()->device();
        }
        const OvfwRun run = ovfw(args);
        QCOMPARE(run.exitCode, 1);

        const QMap<QString, QJsonObject> results = resultsByDevice(run.out);
        for (std::size_t i = 0; i < kFaults.size(); ++i) {
            const Fault &f = kFaults[i];
            const QString device = meters[i]->device();
            const QJsonObject r = results.value(device);
            const QString seen = QStringLiteral("%1: %2").arg(f.name, QString::fromUtf8(QJsonDocument(r).toJson()));
            QVERIFY2(r.value("result").toString() == QLatin1String(f.result), qPrintable(seen));
            QVERIFY2(r.value("retries").toInt() >= f.leastRetries, qPrintable(seen));
            QVERIFY2(r.value("message").toString().contains(QLatin1String(f.message)), qPrintable(seen));
            if (*f.event) {
                bool had = false;
                for (const QJsonObject &e : events(run.out, QLatin1String(f.event)))
                    had = had || e.value("device").toString() == device;
                QVERIFY2(had, qPrintable(seen));
            }
            if (QLatin1String(f.result) == QLatin1String("completed"))
                QVERIFY2(HexFiles::readAll(meters[i]->imagePath()) == made.image, f.name);
            QString stem = device;
            stem.replace(QLatin1Char('/'), QLatin1Char('_'));
            QVERIFY2(QDir(logs.path()).entryList({stem.mid(1) + QStringLiteral("-OV3A01234-*.log")}).size() == 1, f.name);
        }
    }
};

QTEST_GUILESS_MAIN(TestOvfwLineFaults)
#include "tst_ovfw_line_faults.moc"
