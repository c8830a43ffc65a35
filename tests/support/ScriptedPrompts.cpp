#include "ScriptedPrompts.h"

void ScriptedPrompts::expect(const QString &text, int style, const QString &title, MsgAnswer answer,
                             std::function<void()> whileShown)
{
    expected_.push_back({text, style, title, answer, std::move(whileShown)});
}

void ScriptedPrompts::expectContaining(const QString &fragment, int style, const QString &title, MsgAnswer answer)
{
    expected_.push_back({fragment, style, title, answer, {}, true});
}

void ScriptedPrompts::expectOpen(std::optional<QString> fileName)
{
    openAnswers_.push_back(std::move(fileName));
}

MsgAnswer ScriptedPrompts::MsgBox(const Question &question)
{
    const QString &text = question.text;
    const QString &title = question.title;
    const int style = question.style;
    shown_.append({text, style, title, question.kind()});
    if (expected_.empty()) {
        unexpected_ << QStringLiteral("unexpected prompt \"%1\" (style %2, title \"%3\")")
                           .arg(text).arg(style).arg(title);
        return MsgAnswer::Cancel;
    }
    Expected e = expected_.front();
    expected_.pop_front();
    const bool textMatches = e.partial ? text.contains(e.text) : e.text == text;
    if (!textMatches || e.style != style || e.title != title)
        unexpected_ << QStringLiteral("prompt \"%1\" (style %2, title \"%3\"), expected \"%4\" (style %5, title \"%6\")")
                           .arg(text).arg(style).arg(title, e.text).arg(e.style).arg(e.title);
    if (e.whileShown)
        e.whileShown();
    return e.answer;
}

std::optional<QString> ScriptedPrompts::ShowOpen(const QString &dialogTitle, const QString &filter,
                                                 const QString &initialFileName)
{
    lastOpenTitle = dialogTitle;
    lastOpenFilter = filter;
    lastOpenInitial = initialFileName;
    if (openAnswers_.empty()) {
        unexpected_ << QStringLiteral("unexpected file dialog \"%1\"").arg(dialogTitle);
        return std::nullopt;
    }
    const QString chosen = openAnswers_.front().value_or(QString());
    const bool cancelled = !openAnswers_.front().has_value();
    openAnswers_.pop_front();
    if (cancelled)
        return std::nullopt;
    return chosen;
}

QStringList ScriptedPrompts::problems() const
{
    QStringList all = unexpected_;
    for (const auto &e : expected_)
        all << QStringLiteral("expected prompt never shown: \"%1\"").arg(e.text);
    if (!openAnswers_.empty())
        all << QStringLiteral("%1 file dialog answer(s) never used").arg(openAnswers_.size());
    return all;
}
