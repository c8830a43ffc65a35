#pragma once
#include "base/Questions.h"
#include <QString>
#include <functional>
#include <optional>

enum class MsgAnswer { OK, Cancel, Abort, Retry, Ignore };

// The seam through which the tool asks the user anything.
class Prompts {
public:
    virtual ~Prompts() = default;
    // A message box: the question's text, style and title (an empty title
    // means the application title).
    virtual MsgAnswer MsgBox(const Question &question) = 0;
    // A file-open dialog; nullopt when the user cancels.
    virtual std::optional<QString> ShowOpen(const QString &dialogTitle, const QString &filter,
                                            const QString &initialFileName) = 0;
};

// Prompts answered without a person. The answer is chosen from what the
// question is about, its kind and numbers; its wording never reaches the
// chooser, so rewording a box cannot change what is answered.
class AnswersByKind : public Prompts {
public:
    using Chooser = std::function<MsgAnswer(const QuestionFacts &facts)>;
    explicit AnswersByKind(Chooser chooser) : chooser_(std::move(chooser)) {}
    MsgAnswer MsgBox(const Question &question) final { return chooser_(question.facts); }

private:
    Chooser chooser_;
};
