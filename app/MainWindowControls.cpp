// Builds the main window's controls and menus as they are when the window is
// first shown.
#include "windows/Artwork.h"
#include "windows/Layout.h"
#include "app/frmFwUpMain.h"
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionMenuItem>
#include <QToolButton>

namespace {

using Layout::kArial;
using Layout::kSansSerif;
using Layout::twips;

constexpr double kWindowFontPoints = 12;
constexpr double kExitFontPoints = 8.25;
constexpr double kValueFontPoints = 12;
constexpr double kHeadingFontPoints = 9.75;
constexpr int kExitPicturePixels = 32;

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption, const QRect &rect,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop)
{
    auto *l = new QLabel(caption, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setGeometry(rect);
    l->setAlignment(align);
    l->setWordWrap(true);
    return l;
}

// The Port menu: a mark beside the port a meter answered on and nothing
// beside the others, whatever the style would draw for an unchecked item.
class PortMenu : public QMenu {
public:
    using QMenu::QMenu;

protected:
    void initStyleOption(QStyleOptionMenuItem *option, const QAction *action) const override
    {
        QMenu::initStyleOption(option, action);
        if (!action->isChecked())
            option->checkType = QStyleOptionMenuItem::NotCheckable;
    }
};

} // namespace

void frmFwUpMain::buildControls()
{
    setWindowTitle(kCaption);
    setWindowIcon(Artwork::productIcon());
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(Layout::font(kSansSerif, kWindowFontPoints));

    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    client->setFixedSize(Layout::pixels(kClientWidthTwips), Layout::pixels(kClientHeightTwips));
    setCentralWidget(client);

    cmdExit = new QToolButton(client);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    cmdExit->setText(QStringLiteral("Exit"));
    cmdExit->setIcon(Artwork::exitIcon());
    cmdExit->setIconSize(QSize(kExitPicturePixels, kExitPicturePixels));
    cmdExit->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    cmdExit->setToolTip(QStringLiteral("Quit OV3"));
    cmdExit->setFont(Layout::font(kSansSerif, kExitFontPoints));
    cmdExit->setFocusPolicy(Qt::StrongFocus);
    cmdExit->setGeometry(twips(4080, 240, 855, 855));

    lblhard = makeLabel(client, "lblhard", QString(), twips(3480, 1440, 1815, 375));
    lblhard->setFont(Layout::font(kSansSerif, kValueFontPoints, true));
    lblBoot = makeLabel(client, "lblBoot", QString(), twips(2760, 2880, 1815, 255));
    lblBoot->hide();
    lblFirm = makeLabel(client, "lblFirm", QString(), twips(3480, 1920, 1815, 255));
    lblFirm->setFont(Layout::font(kSansSerif, kValueFontPoints, true));
    Label4 = makeLabel(client, "Label4", QStringLiteral("Meter Serial Number:"), twips(840, 1440, 2565, 345));
    Label4->setFont(Layout::font(kSansSerif, kHeadingFontPoints));
    Label4->hide();
    Label3 = makeLabel(client, "Label3", QStringLiteral("Boot Loader Version:"), twips(480, 2880, 1845, 225));
    Label3->setFont(Layout::font(kSansSerif, kHeadingFontPoints));
    Label3->hide();
    Label2 = makeLabel(client, "Label2", QStringLiteral("Firmware Version:"), twips(840, 1920, 2205, 345));
    Label2->setFont(Layout::font(kSansSerif, kHeadingFontPoints));
    Label2->hide();

    cmdConnect = new QPushButton(kConnectCaption, client);
    cmdConnect->setObjectName(QStringLiteral("cmdConnect"));
    cmdConnect->setGeometry(twips(960, 720, 2655, 375));
    cmdConnect->setAutoDefault(false);
    cmdUpgrade = new QPushButton(QStringLiteral("Upgrade"), client);
    cmdUpgrade->setObjectName(QStringLiteral("cmdUpgrade"));
    cmdUpgrade->setGeometry(twips(960, 240, 2655, 375));
    cmdUpgrade->setAutoDefault(false);
    cmdUpgrade->setEnabled(false);

    pbUpgrade = new QProgressBar(client);
    pbUpgrade->setObjectName(QStringLiteral("pbUpgrade"));
    pbUpgrade->setGeometry(twips(0, 2490, 6135, 375));
    pbUpgrade->setTextVisible(false);
    pbUpgrade->hide();

    const QFont statusFont = Layout::font(kArial, kHeadingFontPoints, true);
    lblTitle = makeLabel(client, "lblTitle", QStringLiteral("Searching for meter"),
                         twips(840, 1440, 4215, 495), Qt::AlignHCenter | Qt::AlignTop);
    lblTitle->setFont(statusFont);
    lblTitle->hide();
    lblInfo = makeLabel(client, "lblInfo", QStringLiteral("Info"), twips(1320, 1920, 3375, 495),
                        Qt::AlignHCenter | Qt::AlignTop);
    lblInfo->setFont(statusFont);
    lblInfo->hide();

    setTabOrder(cmdExit, cmdConnect);
    setTabOrder(cmdConnect, cmdUpgrade);

    buildMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
}

void frmFwUpMain::buildMenus()
{
    QMenuBar *bar = menuBar();
    // The window's font is for its controls; the bar keeps the size its
    // drop-down menus and the desktop's other menus have.
    bar->setFont(QApplication::font(bar));
    mnuFile = bar->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));
    mnuExit->setObjectName(QStringLiteral("mnuExit"));

    mnuSourcePort = new PortMenu(QStringLiteral("&Port"), bar);
    bar->addMenu(mnuSourcePort);
    mnuSourcePort->setObjectName(QStringLiteral("mnuSourcePort"));
    // The items only show; a disabled group keeps them from being triggered,
    // so nothing, not even a trigger from code, toggles a mark.
    auto *display = new QActionGroup(mnuSourcePort);
    display->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
    display->setEnabled(false);
    for (int n = 0; n <= PortMap::kPortCount; ++n) {
        QAction *item = mnuSourcePort->addAction(
            n == 0 ? QStringLiteral("None") : QStringLiteral("Comm%1:").arg(n));
        item->setObjectName(QStringLiteral("mnuSourcePortComm_%1").arg(n));
        item->setCheckable(true);  // shows the port a meter answered on
        item->setChecked(false);
        item->setEnabled(false);
        item->setVisible(n == 0);
        display->addAction(item);
        mnuSourcePortComm[n] = item;
    }

    mnuTools = bar->addMenu(QStringLiteral("Tools"));
    mnuTools->setObjectName(QStringLiteral("mnuTools"));
    mnuDeviceInfo = mnuTools->addAction(QStringLiteral("Device Info"));
    mnuDeviceInfo->setObjectName(QStringLiteral("mnuDeviceInfo"));

    mnuhelp = bar->addMenu(QStringLiteral("&Help"));
    mnuhelp->setObjectName(QStringLiteral("mnuhelp"));
    mnuhelpAbout = mnuhelp->addAction(QStringLiteral("&About"));
    mnuhelpAbout->setObjectName(QStringLiteral("mnuhelpAbout"));
    mnuHelpHelp = mnuhelp->addAction(QStringLiteral("Help"));
    mnuHelpHelp->setObjectName(QStringLiteral("mnuHelpHelp"));
}
