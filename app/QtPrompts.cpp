#include "app/QtPrompts.h"
#include "base/AppFacts.h"
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <vector>

namespace {

struct ButtonChoice {
    QString caption;
    MsgAnswer answer;
};

// The buttons of a style, left to right.
std::vector<ButtonChoice> buttonsFor(int style)
{
    const ButtonChoice ok{QStringLiteral("OK"), MsgAnswer::OK};
    const ButtonChoice cancel{QStringLiteral("Cancel"), MsgAnswer::Cancel};
    const ButtonChoice retry{QStringLiteral("Retry"), MsgAnswer::Retry};
    switch (style & MsgStyle::ButtonsMask) {
    case MsgStyle::OkCancel: return {ok, cancel};
    case MsgStyle::AbortRetryIgnore:
        return {{QStringLiteral("Abort"), MsgAnswer::Abort}, retry, {QStringLiteral("Ignore"), MsgAnswer::Ignore}};
    case MsgStyle::RetryCancel: return {retry, cancel};
    default: return {ok};
    }
}

// A message box that, when told it has no escape, only its buttons can answer:
// Esc and the window's close box leave it up. (Left alone, Qt would take a
// lone reject-role button, such as Abort, as the escape.)
class MessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;
    bool noEscape = false;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (noEscape && event->matches(QKeySequence::Cancel)) {
            event->accept();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent *event) override
    {
        if (noEscape) {
            event->ignore();
            return;
        }
        QMessageBox::closeEvent(event);
    }
};

QMessageBox::Icon iconFor(int style)
{
    switch (style & MsgStyle::IconMask) {
    case MsgStyle::Critical: return QMessageBox::Critical;
    case MsgStyle::Exclamation: return QMessageBox::Warning;
    case MsgStyle::Information: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

} // namespace

MsgAnswer QtPrompts::MsgBox(const Question &question)
{
    const QString &text = question.text;
    const QString &title = question.title;
    const int style = question.style;
    const auto choices = buttonsFor(style);
    MessageBox box(iconFor(style), title.isEmpty() ? FwUpApp::Title : title, text,
                   QMessageBox::NoButton, parent_);
    // All in one role, so the box keeps them in the order they are added:
    // the desktop's convention would otherwise put Retry and Ignore (accept
    // roles) before Abort, or Cancel first.
    std::vector<QPushButton *> buttons;
    buttons.reserve(choices.size());
    for (const auto &c : choices)
        buttons.push_back(box.addButton(c.caption, QMessageBox::ActionRole));
    const size_t defaultIndex = (style & MsgStyle::DefaultMask) == MsgStyle::DefaultButton2 ? 1 : 0;
    box.setDefaultButton(buttons[std::min(defaultIndex, buttons.size() - 1)]);
    // Esc and the close box answer Cancel where there is one, otherwise the
    // only button (OK). Several buttons and no Cancel (Abort, Retry, Ignore):
    // no escape at all, the user must pick one.
    box.noEscape = true;
    for (size_t i = 0; i < choices.size(); ++i)
        if (choices[i].answer == MsgAnswer::Cancel || choices.size() == 1) {
            box.setEscapeButton(buttons[i]);
            box.noEscape = false;
        }
    box.exec();
    for (size_t i = 0; i < choices.size(); ++i)
        if (box.clickedButton() == buttons[i])
            return choices[i].answer;
    // Ended without a button (only from code, as by done()): the safest answer.
    for (const auto &c : choices)
        if (c.answer == MsgAnswer::Cancel || c.answer == MsgAnswer::Abort)
            return c.answer;
    return choices.front().answer;
}

QString QtPrompts::qtFilter(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns);
    }
    return filters.join(QStringLiteral(";;"));
}

std::optional<QString> QtPrompts::ShowOpen(const QString &dialogTitle, const QString &filter,
                                           const QString &initialFileName)
{
    // No must-exist check: a typed name comes back as it is, and opening it
    // then fails where the upgrade reports it. The dialog's own name filter
    // ignores case, so ov3a_fw0212.ovh is listed for OV3A_FW*.OVH. The type
    // list shows each description alone; its pattern still filters.
    QFileDialog dialog(parent_, dialogTitle);
    dialog.setObjectName(QStringLiteral("cdlFile"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilter(qtFilter(filter));
    if (!initialFileName.isEmpty())
        dialog.selectFile(initialFileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}
