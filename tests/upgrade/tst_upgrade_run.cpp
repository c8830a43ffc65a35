#include "DescriptorCount.h"
#include "HexFiles.h"
#include "LinkRig.h"
#include "ScriptedCommPort.h"
#include "upgrade/UpgradeFileChoice.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeRun.h"
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <QtTest>

namespace {

const QString kTitle = QStringLiteral("Firmware Upgrade");

struct Heard : UpgradeEvents {
    QStringList order;
    int advanced = 0;
    std::function<void()> whenChanging;  // once the file is checked, before a line goes out
    void meterChanging(const QString &, const UpgradeImage &) override
    {
        if (whenChanging)
            whenChanging();
    }
    void versionAnnounced(const QString &v) override { order << "version " + v; }
    void progressShown(const UpgradeProgress &) override { order << "shown"; }
    void progressAdvanced(const UpgradeProgress &) override { ++advanced; }
    void headingRestored() override { order << "heading"; }
    void progressHidden() override { order << "hidden"; }
};

// The upgrade run alone, on a scripted meter already in its boot loader that
// answers every line at once: PASS, or FAIL for the lines `refused` names.
struct Run {
    ScriptedCommPort comm;
    ScriptedPrompts prompts;
    RecordingLinkEvents linkEvents;
    MeterLink link{comm, prompts, linkEvents};
    Heard heard;
    QString fileName;
    bool fileLeftOpen = false;  // the run's reader, once it returned

    explicit Run(const QByteArray &refused)
    {
        link.meter().Boot_Mode = true;
        comm.replyTo = [refused](const QByteArray &w) -> QByteArray {
            return !refused.isEmpty() && w.startsWith(refused) ? "FAIL\r" : "PASS\r";
        };
    }
    // Through the file dialog, as the window does.
    UpgradeResult run()
    {
        const std::optional<QString> chosen = askForUpgradeFile(
            prompts, FileDialogRequest{QStringLiteral("Select Upgrade File"), fileName}, link.meter().Model_Code);
        if (!chosen)
            return {};
        fileName = *chosen;
        UpgradeRun upgrade(link, prompts, heard);
        const UpgradeResult result = upgrade.run(std::make_shared<const UpgradeImage>(*chosen));
        fileLeftOpen = upgrade.fileOpen();
        return result;
    }
    // With a file read and checked before, as ovfw does.
    UpgradeResult run(std::shared_ptr<const UpgradeImage> checked)
    {
        UpgradeRun upgrade(link, prompts, heard);
        return upgrade.run(std::move(checked));
    }
};

} // namespace

class TestUpgradeRun : public QObject {
    Q_OBJECT
    int descriptorsBefore_ = 0;

private slots:
    void init() { descriptorsBefore_ = openDescriptors(); }
    void cleanup() { QCOMPARE(openDescriptors(), descriptorsBefore_); }

    // Which box ends the run: a file that fails its check is refused before
    // anything is sent; otherwise only a last line read that holds the end
    // record, and was accepted, completes the transfer.
    void outcomeFollowsTheLastLine_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("refused");  // start of the line the meter refuses
        QTest::addColumn<QString>("shownLine");  // in "Error sending " (Cancel)
        QTest::addColumn<QString>("outcome");    // the last box, or a part of the refusal
        const QByteArray data = ":0100000055AA\r\n";
        const QByteArray end = ":00000001FF\r\n";
        const QString complete = QStringLiteral("Upgrade Complete.");
        const QString unexpected = QStringLiteral("Unexpected end of file");
        QTest::newRow("complete") << data + end << QByteArray() << QString() << complete;
        QTest::newRow("CR line ends") << QByteArray(":0100000055AA\r:00000001FF\r") << QByteArray() << QString()
                                      << complete;
        QTest::newRow("LF line ends") << QByteArray(":0100000055AA\n:00000001FF\n") << QByteArray() << QString()
                                      << complete;
        QTest::newRow("lower case") << QByteArray(":0100000055aa\r\n:00000001ff") << QByteArray() << QString()
                                    << complete;
        QTest::newRow("cancelled on a data line") << data + end << QByteArray(":01") << ":0100000055AA" << unexpected;
        QTest::newRow("cancelled on the end record")
            << data + end << QByteArray(":00000001") << ":00000001FF" << unexpected;
        QTest::newRow("no end record") << data << QByteArray() << QString() << "no end-of-file record";
        QTest::newRow("empty line after the end record")
            << data + end + "\r\n" << QByteArray() << QString() << "Line 3: a line after the end-of-file record";
        QTest::newRow("empty file") << QByteArray() << QByteArray() << QString() << "the file is empty";
        QTest::newRow("binary file") << QByteArray("\x00\xff\x7f\r\n", 5) << QByteArray() << QString()
                                     << "Line 1: does not start with ':'";
        QTest::newRow("a 1 MiB line") << QByteArray(1 << 20, 'A') + "\r\n" + end << QByteArray() << QString()
                                      << "longer than any Intel HEX record";
    }

    void outcomeFollowsTheLastLine()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, refused);
        QFETCH(QString, shownLine);
        QFETCH(QString, outcome);
        QTemporaryDir dir;
        Run r(refused);
        r.prompts.expectOpen(HexFiles::write(dir.path(), "OV3_FW1204.OVH", content));
        const bool transferred = outcome == "Upgrade Complete." || outcome == "Unexpected end of file";
        if (!shownLine.isEmpty())
            r.prompts.expect("Error sending " + shownLine, 5 + 64, kTitle, MsgAnswer::Cancel);
        if (transferred)
            r.prompts.expect(outcome, 64, kTitle, MsgAnswer::OK);
        else
            r.prompts.expectContaining(outcome, MsgStyle::Critical, QString(), MsgAnswer::OK);
        const UpgradeResult result = r.run();
        QVERIFY2(r.prompts.problems().isEmpty(), qPrintable(r.prompts.problems().join("; ")));
        QVERIFY(!r.fileLeftOpen);
        if (!transferred) {
            QCOMPARE(result.outcome, UpgradeOutcome::FileRefused);
            QVERIFY(!result.fault.description.isEmpty());
            QCOMPARE(r.prompts.shown().last().kind, QuestionKind::FileRefused);
            QVERIFY(r.heard.order.isEmpty());
            QVERIFY(r.comm.written.isEmpty());
            return;
        }
        QCOMPARE(result.outcome, outcome == "Upgrade Complete." ? UpgradeOutcome::Completed
                                                                : UpgradeOutcome::UnexpectedEnd);
        QCOMPARE(r.heard.order, (QStringList{"version 12.04", "shown", "heading", "hidden"}));
        // Every line read went out whole, with one CR and no LF, until the
        // refused one.
        QByteArray expected;
        UpgradeFile again;
        again.open(r.fileName);
        while (!again.atEnd()) {
            const QByteArray line = again.readLine();
            expected += line + "\r";
            if (!refused.isEmpty() && line.startsWith(refused))
                break;
        }
        QCOMPARE(r.comm.written, expected);
        QCOMPARE(r.heard.advanced, expected.count('\r'));
    }

    // The model the name gives must be the meter's where both are known; a
    // meter found only in its boot loader ("*") has the content checked alone.
    void anotherModelsFileIsRefused()
    {
        QTemporaryDir dir;
        const QString file = HexFiles::write(dir.path(), "OV3B_FW1204.OVH", ":0100000055AA\r\n:00000001FF\r\n");
        for (const QString &meterModel : {QStringLiteral("3A"), QStringLiteral("*")}) {
            Run r{QByteArray()};
            r.link.meter().Model_Code = meterModel;
            r.prompts.expectOpen(file);
            if (meterModel == "*")
                r.prompts.expect("Upgrade Complete.", 64, kTitle, MsgAnswer::OK);
            else
                r.prompts.expectContaining("model 3B, this meter is model 3A", MsgStyle::Critical, QString(),
                                           MsgAnswer::OK);
            const UpgradeResult result = r.run();
            QVERIFY2(r.prompts.problems().isEmpty(), qPrintable(r.prompts.problems().join("; ")));
            QCOMPARE(result.outcome, meterModel == "*" ? UpgradeOutcome::Completed : UpgradeOutcome::FileRefused);
        }
    }

    // What was checked is what is sent: the file rewritten in place, replaced
    // by another or deleted once it has been checked (here while the user
    // would read the warning) changes nothing that goes out, whether it was
    // chosen in the dialog or handed over.
    void theCheckedBytesAreSent_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("handedOver");
        for (const bool handedOver : {false, true}) {
            const char *road = handedOver ? "handed over" : "chosen";
            QTest::addRow("%s, rewritten in place", road) << "rewrite" << handedOver;
            QTest::addRow("%s, replaced", road) << "replace" << handedOver;
            QTest::addRow("%s, deleted", road) << "delete" << handedOver;
        }
    }

    void theCheckedBytesAreSent()
    {
        QFETCH(QString, change);
        QFETCH(bool, handedOver);
        QTemporaryDir dir, otherDir;
        const auto hex = HexFiles::make(dir.path(), "OV3_FW1204.OVH", 4096);
        const auto other = HexFiles::make(otherDir.path(), "OV3_FW1204.OVH", 4096);
        QFile original(hex.path);
        QVERIFY(original.open(QIODevice::ReadOnly));
        QByteArray expected = original.readAll();
        original.close();
        expected.replace("\r\n", "\r");
        Run r{QByteArray()};
        r.heard.whenChanging = [&] {
            if (change == "rewrite") {
                QFile f(hex.path);
                QFile o(other.path);
                QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && o.open(QIODevice::ReadOnly));
                f.write(o.readAll());
            } else if (change == "replace") {
                QCOMPARE(::rename(QFile::encodeName(other.path).constData(), QFile::encodeName(hex.path).constData()), 0);
            } else {
                QVERIFY(QFile::remove(hex.path));
            }
        };
        if (!handedOver)
            r.prompts.expectOpen(hex.path);
        r.prompts.expect("Upgrade Complete.", 64, kTitle, MsgAnswer::OK);
        const UpgradeResult result = handedOver ? r.run(std::make_shared<const UpgradeImage>(hex.path)) : r.run();
        QVERIFY2(r.prompts.problems().isEmpty(), qPrintable(r.prompts.problems().join("; ")));
        QCOMPARE(result.outcome, UpgradeOutcome::Completed);
        QCOMPARE(result.filePath, hex.path);
        QVERIFY(r.comm.written == expected);
        QCOMPARE(QFile::exists(hex.path), change != "delete");
    }
};

QTEST_GUILESS_MAIN(TestUpgradeRun)
#include "tst_upgrade_run.moc"
