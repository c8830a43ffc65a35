#pragma once
#include <QDialog>

class QLabel;
class QPushButton;

// Product, tool version, maker, web address and disclaimer. Built afresh for
// every showing, so its texts never carry over from an earlier one.
class frmFwUpAbout : public QDialog {
    Q_OBJECT
public:
    static inline const QString kMaker = QStringLiteral("orvane firmware tools team");
    static inline const QString kWebAddress = QStringLiteral("https://firmware-tools.orvane.example/");

    explicit frmFwUpAbout(QWidget *parent = nullptr);
    void Form_Load();

    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *lblSoft = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *lblDisclaimer = nullptr;
    QPushButton *cmdOK = nullptr;
};
