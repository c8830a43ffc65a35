#pragma once
#include "base/Prompts.h"
#include <QStringList>
#include <deque>
#include <functional>

// Answers prompts from a script. A prompt that differs from the next expected
// one, or comes when none is expected, is recorded as a failure.
class ScriptedPrompts : public Prompts {
public:
    struct Shown {
        QString text;
        int style;
        QString title;
        QuestionKind kind;
    };

    void expect(const QString &text, int style, const QString &title, MsgAnswer answer,
                std::function<void()> whileShown = {});
    // As expect(), for a box whose text only needs to hold `fragment`.
    void expectContaining(const QString &fragment, int style, const QString &title, MsgAnswer answer);
    void expectOpen(std::optional<QString> fileName);

    MsgAnswer MsgBox(const Question &question) override;
    std::optional<QString> ShowOpen(const QString &dialogTitle, const QString &filter,
                                    const QString &initialFileName) override;

    const QList<Shown> &shown() const { return shown_; }
    QStringList problems() const;  // unexpected prompts and unused expectations

    QString lastOpenFilter, lastOpenTitle, lastOpenInitial;

private:
    struct Expected {
        QString text;
        int style;
        QString title;
        MsgAnswer answer;
        std::function<void()> whileShown;
        bool partial = false;
    };
    std::deque<Expected> expected_;
    std::deque<std::optional<QString>> openAnswers_;
    QList<Shown> shown_;
    QStringList unexpected_;
};
