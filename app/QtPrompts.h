#pragma once
#include "base/Prompts.h"
#include <QPointer>
#include <QWidget>

// Prompts shown with real Qt message boxes and file dialogs, modal over the
// main window.
class QtPrompts : public Prompts {
public:
    void setParentWindow(QWidget *parent) { parent_ = parent; }
    MsgAnswer MsgBox(const Question &question) override;
    std::optional<QString> ShowOpen(const QString &dialogTitle, const QString &filter,
                                    const QString &initialFileName) override;

    // "Desc|pattern|Desc|pattern" as the upgrade dialog is given it, in Qt's form.
    static QString qtFilter(const QString &pipeFilter);

private:
    QPointer<QWidget> parent_;
};
