#include "windows/frmFwUpAbout.h"
#include "FwUpVersion.h"
#include "windows/Artwork.h"
#include "base/AppFacts.h"
#include "windows/Layout.h"
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace {

constexpr double kDialogFontPoints = 8.25;
constexpr double kTitleFontPoints = 13.5;
constexpr double kMakerFontPoints = 9.75;
constexpr int kIconPixels = 32;

using Layout::twips;

QFont sansSerif(double points, bool bold = false)
{
    return Layout::font(Layout::kSansSerif, points, bold);
}

QLabel *label(QWidget *parent, const char *name, const QString &text, const QRect &rect)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(rect);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

} // namespace

frmFwUpAbout::frmFwUpAbout(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmFwUpAbout"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twips(0, 0, 5730, 3030).size());
    setWindowIcon(Artwork::blankIcon());  // not the main window's
    setFont(sansSerif(kDialogFontPoints));
    setAttribute(Qt::WA_DeleteOnClose, false);

    picIcon = label(this, "picIcon", QString(), twips(240, 240, 480, 480));
    picIcon->setPixmap(Artwork::productIcon().pixmap(kIconPixels, kIconPixels));
    lblTitle = label(this, "lblTitle", QStringLiteral("orvane"), twips(1080, 240, 3885, 480));
    lblTitle->setFont(sansSerif(kTitleFontPoints, true));
    lblTitle->setStyleSheet(QStringLiteral("color: black"));
    Label1 = label(this, "Label1", kMaker, twips(1080, 720, 3855, 255));
    Label1->setFont(sansSerif(kMakerFontPoints, true));
    Label5 = label(this, "Label5", QStringLiteral("Software Version:"), twips(1080, 1080, 1845, 225));
    lblSoft = label(this, "lblSoft", QString(), twips(3000, 1080, 1935, 255));
    Label6 = label(this, "Label6", kWebAddress, twips(360, 1560, 4935, 255));
    Label6->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label6->setStyleSheet(QStringLiteral("color: rgb(0, 0, 255)"));

    auto *line1 = new QFrame(this);
    line1->setObjectName(QStringLiteral("Line1"));
    line1->setGeometry(Layout::pixels(120), Layout::pixels(1920), Layout::pixels(5684 - 120), 1);
    line1->setStyleSheet(QStringLiteral("background: rgb(128, 128, 128)"));

    lblDisclaimer = label(this, "lblDisclaimer", QStringLiteral("Note: ..."), twips(255, 2040, 3870, 825));
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setStyleSheet(QStringLiteral("color: black"));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setGeometry(twips(4245, 2040, 1260, 345));
    cmdOK->setDefault(true);
    cmdOK->setFocus();
    // Esc rejects a QDialog, which closes it just as OK does.
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    Form_Load();
}

void frmFwUpAbout::Form_Load()
{
    setWindowTitle(QStringLiteral("About ") + FwUpApp::Title);
    lblSoft->setText(QStringLiteral("%1.%2.%3")
                         .arg(FwUpVersion::Major)
                         .arg(FwUpVersion::Minor)
                         .arg(FwUpVersion::Revision));
    lblDisclaimer->setText(lblDisclaimer->text() + QStringLiteral("  "));
    lblDisclaimer->setText(lblDisclaimer->text() +
                           QStringLiteral(" the associated hardware. It is accepted \"as-is\""));
    lblDisclaimer->setText(lblDisclaimer->text() +
                           QStringLiteral(" and no warranties, or suggestions of suitability for any "
                                          "purpose are implied."));
}
