// ovfw's answers depend on what a question is about, never on its wording:
// every kind is asked with a text that resembles no box at all.
#include "cli/CliPrompts.h"
#include "upgrade/TransferPolicy.h"
#include <QtTest>

Q_DECLARE_METATYPE(QuestionKind)
Q_DECLARE_METATYPE(MsgAnswer)

namespace {
Question reworded(QuestionKind kind, qint64 line = 0, int attempt = 0, bool repeatAllowed = true)
{
    return {{kind, 0, line, 0, MeterReply::Refused, attempt, repeatAllowed},
            QStringLiteral("reworded %1").arg(int(kind)), MsgStyle::OkOnly, QString()};
}
}

class TestCliPrompts : public QObject {
    Q_OBJECT

private slots:
    void answersByKind_data()
    {
        QTest::addColumn<QuestionKind>("kind");
        QTest::addColumn<bool>("stopping");
        QTest::addColumn<MsgAnswer>("answer");
        const QList<std::tuple<const char *, QuestionKind, MsgAnswer, MsgAnswer>> table{
            {"warning", QuestionKind::UpgradeWarning, MsgAnswer::OK, MsgAnswer::Cancel},
            {"not responding", QuestionKind::NotResponding, MsgAnswer::OK, MsgAnswer::Cancel},
            {"line refused", QuestionKind::LineRefused, MsgAnswer::Retry, MsgAnswer::Cancel},
            {"complete", QuestionKind::UpgradeComplete, MsgAnswer::OK, MsgAnswer::OK},
            {"unexpected end", QuestionKind::UnexpectedEnd, MsgAnswer::OK, MsgAnswer::OK},
            {"error", QuestionKind::UpgradeError, MsgAnswer::OK, MsgAnswer::OK},
            {"port open failed", QuestionKind::PortOpenFailed, MsgAnswer::OK, MsgAnswer::OK},
            {"no meter", QuestionKind::NoMeterDetected, MsgAnswer::Abort, MsgAnswer::Abort},
            {"no boot loader", QuestionKind::NoHardwareDetected, MsgAnswer::Cancel, MsgAnswer::Cancel},
            {"session file", QuestionKind::SessionSaveFailed, MsgAnswer::OK, MsgAnswer::OK},
        };
        for (const auto &[name, kind, running, stopping] : table) {
            QTest::addRow("%s", name) << kind << false << running;
            QTest::addRow("%s, stopping", name) << kind << true << stopping;
        }
    }

    void answersByKind()
    {
        QFETCH(QuestionKind, kind);
        QFETCH(bool, stopping);
        QFETCH(MsgAnswer, answer);
        std::atomic<bool> stop{stopping};
        QList<QuestionKind> told;
        CliPrompts prompts(stop, [&](const QuestionFacts &f, int, MsgAnswer) { told << f.kind; });
        QCOMPARE(prompts.MsgBox(reworded(kind, 1)), answer);
        QCOMPARE(told, QList<QuestionKind>{kind});
    }

    // The attempt the core counts (each line its own, the switch its own)
    // is answered Retry or OK as long as the unattended rules allow a repeat.
    void retriesFollowTheAttempt()
    {
        std::atomic<bool> stop{false};
        CliPrompts prompts(stop, {});
        const TransferPolicy rules = TransferPolicy::unattended(2);
        QList<MsgAnswer> answers;
        for (const auto &[line, attempt] : {std::pair{5, 1}, {5, 2}, {5, 3}, {6, 1}, {6, 2}})
            answers << prompts.MsgBox(
                reworded(QuestionKind::LineRefused, line, attempt, rules.allowsRepeat(attempt)));
        for (int attempt = 1; attempt <= 3; ++attempt)
            answers << prompts.MsgBox(
                reworded(QuestionKind::NotResponding, 0, attempt, rules.allowsRepeat(attempt)));
        QCOMPARE(answers, (QList<MsgAnswer>{MsgAnswer::Retry, MsgAnswer::Retry, MsgAnswer::Cancel, MsgAnswer::Retry,
                                            MsgAnswer::Retry, MsgAnswer::OK, MsgAnswer::OK, MsgAnswer::Cancel}));
    }
};

QTEST_GUILESS_MAIN(TestCliPrompts)
#include "tst_cli_prompts.moc"
