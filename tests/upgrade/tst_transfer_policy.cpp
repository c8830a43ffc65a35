// The transfer policy's rules, each row on a scripted meter in one upgrade
// run: the settle before a repeat, restart recovery and the line-quality
// stop, with their durations shortened; the meter's 0.3 s window stays. What
// matters is what the meter ends up holding and what the run says of it.
#include "HexFiles.h"
#include "LinkRig.h"
#include "ScriptedCommPort.h"
#include "base/MonotonicClock.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeRun.h"
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

namespace {
const QList<QByteArray> kRecords{":0100000011EE", ":0100010022DC", ":0100020033CA", ":00000001FF"};
const QByteArray kSwitch = QByteArrayLiteral("\xC2\xD4");
constexpr double kMostRowSeconds = 2.0;
constexpr double kLoadedMachineSeconds = 0.5;  // timers late on a busy or sanitized build

// How the meter answers the `heard`th time (from 1) it hears `said`: its
// reply ("" for silence) and after how long. It keeps the records it passes.
struct Answer {
    QByteArray reply;
    int afterMs = 5;
};
using Behaviour = std::function<Answer(const QByteArray &said, int heard)>;

struct ScriptedMeter {
    ScriptedCommPort comm;
    Behaviour behaviour;
    QMap<QByteArray, int> heard;
    QList<QByteArray> kept;  // what its memory holds, a restart clears it

    ScriptedMeter()
    {
        comm.replyTo = [this](const QByteArray &written) {
            const QByteArray said = written.chopped(1);  // its carriage return
            if (said == "H")
                return QByteArray();
            const Answer a = behaviour(said, ++heard[said]);
            if (a.reply == "restart") {
                kept.clear();
                return QByteArray();
            }
            if (a.reply.startsWith("PASS") && said != kSwitch && !kept.contains(said))
                kept << said;
            if (!a.reply.isEmpty())
                comm.arrive(a.afterMs, a.reply);
            return QByteArray();
        };
    }
};

Answer pass(int afterMs = 5) { return {"PASS\r", afterMs}; }

// Answers as ovfw does: OK to the warning, a repeat while the run's rules
// allow one; and notes each question asked.
class Asked : public AnswersByKind {
public:
    Asked()
        : AnswersByKind([this](const QuestionFacts &f) {
              asked << QStringLiteral("%1:%2/%3").arg(int(f.kind)).arg(f.line).arg(f.attempt);
              if (f.kind == QuestionKind::UpgradeWarning)
                  return MsgAnswer::OK;
              if (f.kind == QuestionKind::LineRefused)
                  return f.repeatAllowed ? MsgAnswer::Retry : MsgAnswer::Cancel;
              if (f.kind == QuestionKind::NotResponding)
                  return f.repeatAllowed ? MsgAnswer::OK : MsgAnswer::Cancel;
              return MsgAnswer::OK;
          })
    {
    }
    // The run is handed its file checked already: never asked for one.
    std::optional<QString> ShowOpen(const QString &, const QString &, const QString &) override
    {
        asked << QStringLiteral("file dialog");
        return std::nullopt;
    }
    QStringList asked;
};

QString lineQuestion(qint64 line, int attempt)
{
    return QStringLiteral("%1:%2/%3").arg(int(QuestionKind::LineRefused)).arg(line).arg(attempt);
}

constexpr int kRepeats = 2;

TransferPolicy shortened(int restarts)
{
    TransferPolicy p = TransferPolicy::unattended(restarts);
    p.mostRepeats = kRepeats;
    p.settle = SettleTimes{0.1, 0.5};
    p.bootLoaderWaitSeconds = 0.2;  // one probe: it pauses a second itself
    p.qualityWindowLines = 3;
    p.qualityMostRetried = 1;
    p.qualityGraceLines = 2;
    return p;
}

// The record the meter restarts on, and what it does after: silent, then
// it refuses records until it is switched again.
Behaviour restartsAt(const QByteArray &record, bool bootLoaderAnswers)
{
    auto restarted = std::make_shared<bool>(false), armed = std::make_shared<bool>(true);
    return [=](const QByteArray &said, int heard) -> Answer {
        if (said == kSwitch) {
            if (!bootLoaderAnswers)
                return {};
            *armed = true;
            return pass();
        }
        if (said == record && heard == 1) {
            *restarted = true;
            *armed = false;
            return {"restart"};
        }
        return *armed ? pass() : Answer{"FAIL\r"};
    };
}
}

class TestTransferPolicy : public QObject {
    Q_OBJECT
private slots:
    void eachRuleEndsAsItShould_data()
    {
        QTest::addColumn<bool>("window");  // the window's road, else ovfw's, shortened
        QTest::addColumn<bool>("inBootLoader");
        QTest::addColumn<Behaviour>("behaviour");
        QTest::addColumn<UpgradeOutcome>("outcome");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QString>("told");  // restart, recovery and quality facts
        QTest::addColumn<int>("restarts");  // allowed
        const QByteArray line2 = kRecords[1], line3 = kRecords[2];
        const QStringList none;
        const auto completed = UpgradeOutcome::Completed, unexpected = UpgradeOutcome::UnexpectedEnd;

        QTest::newRow("window: a late answer is a box, Retry resends at once")
            << true << true << Behaviour([=](const QByteArray &s, int h) { return s == line2 && h == 1 ? pass(350) : pass(); })
            << completed << QStringList{lineQuestion(2, 1)} << "restarts 0" << 1;
        QTest::newRow("a late PASS inside the settle answers its line")
            << false << true << Behaviour([=](const QByteArray &s, int h) { return s == line2 && h == 1 ? pass(350) : pass(); })
            << completed << none << "restarts 0" << 1;
        QTest::newRow("a late FAIL inside the settle: resent after it")
            << false << true
            << Behaviour([=](const QByteArray &s, int h) { return s == line2 && h == 1 ? Answer{"FAIL\r", 350} : pass(); })
            << completed << QStringList{lineQuestion(2, 1)} << "restarts 0" << 1;
        QTest::newRow("a late switch acknowledgement inside the settle")
            << false << false << Behaviour([=](const QByteArray &s, int h) { return s == kSwitch && h == 1 ? pass(350) : pass(); })
            << completed << QStringList{QStringLiteral("%1:0/0").arg(int(QuestionKind::UpgradeWarning))} << "restarts 0" << 1;
        QTest::newRow("silent, quiet, then refused: a restart, recovered from the start")
            << false << true << restartsAt(line3, true) << completed << QStringList{lineQuestion(3, 1)} << "restarts 1" << 1;
        QTest::newRow("a restart with no restart left")
            << false << true << Behaviour([=](const QByteArray &s, int) { return s == line2 ? Answer{} : pass(); })
            << unexpected << QStringList{lineQuestion(2, 1)} << "restarts 0, spent" << 0;
        QTest::newRow("a restart whose boot loader stays silent")
            << false << true << restartsAt(line3, false) << unexpected << QStringList{lineQuestion(3, 1)}
            << "restarts 1, boot loader silent" << 1;
        QTest::newRow("a line refused to the limit, and not once more")
            << false << true << Behaviour([=](const QByteArray &s, int) { return s == line2 ? Answer{"FAIL\r"} : pass(); })
            << unexpected << QStringList{lineQuestion(2, 1), lineQuestion(2, 2), lineQuestion(2, kRepeats + 1)}
            << "restarts 0" << 1;
        QTest::newRow("too many lines need a repeat: the line-quality stop")
            << false << true
            << Behaviour([=](const QByteArray &s, int h) { return (s == line2 || s == line3) && h == 1 ? Answer{"FAIL\r"} : pass(); })
            << unexpected << QStringList{lineQuestion(2, 1)} << "restarts 0, quality 2" << 1;
    }

    void eachRuleEndsAsItShould()
    {
        QFETCH(bool, window);
        QFETCH(bool, inBootLoader);
        QFETCH(Behaviour, behaviour);
        QFETCH(UpgradeOutcome, outcome);
        QFETCH(QStringList, asked);
        QFETCH(QString, told);
        QFETCH(int, restarts);
        QTemporaryDir dir;
        const QString path = HexFiles::write(dir.path(), QStringLiteral("OV3A_FW0300.OVH"),
                                             kRecords.join("\r\n") + "\r\n");
        ScriptedMeter meter;
        meter.behaviour = behaviour;
        Asked prompts;
        RecordingLinkEvents linkEvents;
        MeterLink link(meter.comm, prompts, linkEvents);
        link.meter().Port_Number = 1;
        link.meter().Boot_Mode = inBootLoader;
        UpgradeEvents events;
        UpgradeRun run(link, prompts, events);
        if (!window)
            run.setPolicy(shortened(restarts));
        const auto checked = std::make_shared<const UpgradeImage>(path);
        const double t0 = MonotonicClock::now();
        const UpgradeResult r = run.run(checked);
        const double lasted = MonotonicClock::now() - t0;

        QCOMPARE(r.outcome, outcome);
        // Never completed unless the meter holds the whole file.
        if (r.outcome == UpgradeOutcome::Completed)
            QCOMPARE(meter.kept, kRecords);
        prompts.asked.removeAll(QStringLiteral("%1:0/0").arg(int(QuestionKind::UpgradeComplete)));
        prompts.asked.removeAll(QStringLiteral("%1:0/0").arg(int(QuestionKind::UnexpectedEnd)));
        QCOMPARE(prompts.asked, asked);
        QString facts = QStringLiteral("restarts %1").arg(r.restarts);
        if (r.recovery == UpgradeResult::Recovery::RestartsSpent)
            facts += QStringLiteral(", spent");
        if (r.recovery == UpgradeResult::Recovery::BootLoaderSilent)
            facts += QStringLiteral(", boot loader silent");
        if (r.lineQualityStopped)
            facts += QStringLiteral(", quality %1").arg(r.linesRetriedRecently);
        QCOMPARE(facts, told);
        QVERIFY2(lasted < kMostRowSeconds + kLoadedMachineSeconds, qPrintable(QStringLiteral("took %1 s").arg(lasted)));
    }

    // The line-quality stop of the command line's road, counted across
    // presumed restarts. Steps: "send N" lines go out, "fail N" of them fail
    // once each, "repeat N" more failures of the last line, "restart L" the
    // meter presumed to restart at line L. The verdict is the last step's.
    void theLineQualityStopCountsRetriesAndRestarts_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<LineQuality::Verdict>("verdict");
        using V = LineQuality::Verdict;
        QTest::newRow("49 repeats on one line: on") << "send 30, fail 1, repeat 48" << V::GoOn;
        QTest::newRow("50 repeats on one line: hopeless") << "send 30, fail 1, repeat 49" << V::RetriesSpent;
        QTest::newRow("repeats of lines long gone are forgotten") << "send 1, fail 1, repeat 48, send 100, fail 1" << V::GoOn;
        QTest::newRow("11 of 100 lines needing a repeat") << "send 20, fail 11" << V::LinesRetried;
        QTest::newRow("within the first 20 lines, no line count yet") << "send 5, fail 11" << V::GoOn;
        QTest::newRow("a restart is a repeat, and the count goes on after it")
            << "send 20, fail 1, repeat 40, restart 20, send 5, fail 1, repeat 7" << V::RetriesSpent;
        QTest::newRow("three restarts never past the furthest line")
            << "send 20, restart 20, send 10, restart 10, send 19, restart 19, send 20, restart 20" << V::RestartsFruitless;
        QTest::newRow("restarts that get further each time")
            << "send 20, restart 20, send 21, restart 21, send 22, restart 22, send 23, restart 23" << V::GoOn;
        QTest::newRow("the window's road never stops")
            << "window, send 30, fail 1, repeat 200, restart 1, restart 1, restart 1, restart 1" << V::GoOn;
    }

    void theLineQualityStopCountsRetriesAndRestarts()
    {
        QFETCH(QString, steps);
        QFETCH(LineQuality::Verdict, verdict);
        const TransferPolicy policy = steps.startsWith("window") ? TransferPolicy{} : TransferPolicy::unattended(1000);
        LineQuality quality(policy);
        LineQuality::Verdict last = LineQuality::Verdict::GoOn;
        for (const QString &step : steps.split(", ")) {
            const QString kind = step.section(' ', 0, 0);
            const int n = step.section(' ', 1, 1).toInt();
            if (kind == "send")
                for (int i = 0; i < n; ++i)
                    quality.lineSent();
            for (int i = 0; kind == "fail" && i < n; ++i) {
                quality.lineSent();
                last = quality.failed(true);
            }
            for (int i = 0; kind == "repeat" && i < n; ++i)
                last = quality.failed(false);
            if (kind == "restart")
                last = quality.restarted(n);
        }
        QCOMPARE(last, verdict);
    }
};

QTEST_GUILESS_MAIN(TestTransferPolicy)
#include "tst_transfer_policy.moc"
