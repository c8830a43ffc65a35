#include "WindowRig.h"
#include "app/FwUpStartup.h"
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QtTest>

class TestMainWindow : public QObject {
    Q_OBJECT
private slots:
    void windowFrame()
    {
        WindowRig rig{QString()};
        frmFwUpMain &w = *rig.window;
        rig.window->Form_Load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("orvane  Firmware Upgrade"));
        QCOMPARE(w.centralWidget()->size(), QSize(409, 191));
        QCOMPARE(w.minimumSize(), w.maximumSize());  // fixed border
        const auto flags = w.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!w.windowIcon().isNull());
        QCOMPARE(w.windowIcon().availableSizes(), QList<QSize>{QSize(32, 32)});
        const QPoint screenCentre = w.screen()->availableGeometry().center();
        QVERIFY((w.geometry().center() - screenCentre).manhattanLength() < 40);
        QCOMPARE(w.font().pointSizeF(), 12.0);
        QVERIFY(!w.font().bold());
    }

    void controlsAsBuilt_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QRect>("twips");
        QTest::addColumn<double>("points");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("visible");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("cmdExit") << "cmdExit" << "Exit" << QRect(4080, 240, 855, 855) << 8.25 << false << true << true;
        QTest::newRow("lblhard") << "lblhard" << "" << QRect(3480, 1440, 1815, 375) << 12.0 << true << true << true;
        QTest::newRow("lblBoot") << "lblBoot" << "" << QRect(2760, 2880, 1815, 255) << 12.0 << false << false << true;
        QTest::newRow("lblFirm") << "lblFirm" << "" << QRect(3480, 1920, 1815, 255) << 12.0 << true << true << true;
        QTest::newRow("Label4") << "Label4" << "Meter Serial Number:" << QRect(840, 1440, 2565, 345) << 9.75 << false << false << true;
        QTest::newRow("Label3") << "Label3" << "Boot Loader Version:" << QRect(480, 2880, 1845, 225) << 9.75 << false << false << true;
        QTest::newRow("Label2") << "Label2" << "Firmware Version:" << QRect(840, 1920, 2205, 345) << 9.75 << false << false << true;
        QTest::newRow("cmdConnect") << "cmdConnect" << "Connect" << QRect(960, 720, 2655, 375) << 12.0 << false << true << true;
        QTest::newRow("cmdUpgrade") << "cmdUpgrade" << "Upgrade" << QRect(960, 240, 2655, 375) << 12.0 << false << true << false;
        QTest::newRow("pbUpgrade") << "pbUpgrade" << "" << QRect(0, 2490, 6135, 375) << 12.0 << false << false << true;
        QTest::newRow("lblTitle") << "lblTitle" << "Searching for meter" << QRect(840, 1440, 4215, 495) << 9.75 << true << false << true;
        QTest::newRow("lblInfo") << "lblInfo" << "Info" << QRect(1320, 1920, 3375, 495) << 9.75 << true << false << true;
    }

    void controlsAsBuilt()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QFETCH(QRect, twips);
        QFETCH(double, points);
        QFETCH(bool, bold);
        QFETCH(bool, visible);
        QFETCH(bool, enabled);
        WindowRig rig{QString()};
        rig.window->Form_Load();
        rig.window->show();
        auto *c = rig.window->findChild<QWidget *>(name);
        QVERIFY(c);
        const QRect px(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
        QCOMPARE(c->geometry(), px);
        QCOMPARE(c->font().pointSizeF(), points);
        QCOMPARE(c->font().bold(), bold);
        QCOMPARE(c->isVisible(), visible);
        QCOMPARE(c->isEnabled(), enabled);
        QString text;
        if (auto *l = qobject_cast<QLabel *>(c))
            text = l->text();
        else if (auto *b = qobject_cast<QAbstractButton *>(c))
            text = b->text();
        QCOMPARE(text, caption);
        if (name == "lblTitle" || name == "lblInfo")
            QVERIFY(qobject_cast<QLabel *>(c)->alignment() & Qt::AlignHCenter);
        if (auto *b = qobject_cast<QPushButton *>(c)) {
            QVERIFY(!b->isDefault());
            QVERIFY(!b->autoDefault());
        }
    }

    void exitButtonPictureTooltipAndTabOrder()
    {
        WindowRig rig{QString()};
        frmFwUpMain &w = *rig.window;
        QCOMPARE(w.cmdExit->toolTip(), QStringLiteral("Quit OV3"));
        QCOMPARE(w.cmdExit->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        const auto sizes = w.cmdExit->icon().availableSizes();
        QVERIFY(sizes.contains(QSize(32, 32)) && sizes.contains(QSize(16, 16)));
        // The picture is a red disc with a white cross through its centre.
        const QImage pic = w.cmdExit->icon().pixmap(32, 32).toImage();
        const QColor rim = pic.pixelColor(16, 5), centre = pic.pixelColor(16, 16);
        QVERIFY(rim.red() > 180 && rim.green() < 60 && rim.blue() < 60);
        QVERIFY(centre.red() > 200 && centre.green() > 200 && centre.blue() > 200);
        const QImage icon = w.windowIcon().pixmap(32, 32).toImage();
        const QColor disc = icon.pixelColor(16, 5);
        QVERIFY(disc.red() > 200 && disc.green() > 200 && disc.blue() < 60);

        auto nextTabStop = [](QWidget *from) {
            QWidget *n = from->nextInFocusChain();
            while (!(n->focusPolicy() & Qt::TabFocus))
                n = n->nextInFocusChain();
            return n;
        };
        QCOMPARE(nextTabStop(w.cmdExit), static_cast<QWidget *>(w.cmdConnect));
        QCOMPARE(nextTabStop(w.cmdConnect), static_cast<QWidget *>(w.cmdUpgrade));
        for (QLabel *l : w.centralWidget()->findChildren<QLabel *>())
            QCOMPARE(l->focusPolicy(), Qt::NoFocus);
    }

    void menusAsBuilt()
    {
        WindowRig rig{QString()};
        frmFwUpMain &w = *rig.window;
        QStringList titles;
        for (QAction *a : w.menuBar()->actions())
            titles << a->text();
        QCOMPARE(titles, (QStringList{"&File", "&Port", "Tools", "&Help"}));
        QCOMPARE(w.mnuExit->text(), QStringLiteral("E&xit"));
        QCOMPARE(w.mnuDeviceInfo->text(), QStringLiteral("Device Info"));
        QCOMPARE(w.mnuhelpAbout->text(), QStringLiteral("&About"));
        QCOMPARE(w.mnuHelpHelp->text(), QStringLiteral("Help"));
        QCOMPARE(w.mnuSourcePort->actions().size(), 17);
        for (int n = 0; n <= 16; ++n) {
            QAction *item = w.mnuSourcePortComm[n];
            QCOMPARE(w.mnuSourcePort->actions().at(n), item);
            QCOMPARE(item->text(), n == 0 ? QStringLiteral("None") : QStringLiteral("Comm%1:").arg(n));
            QCOMPARE(item->isVisible(), n == 0);
            QVERIFY(!item->isEnabled());
            QVERIFY(!item->isChecked());
        }
        for (QMenu *m : w.menuBar()->findChildren<QMenu *>()) {
            for (QAction *a : m->actions())
                QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->text()));
            QCOMPARE(m->font().pointSizeF(), w.menuBar()->font().pointSizeF());
        }
    }

    void loadSetsStateAndFillsThePortMenu()
    {
        WindowRig rig{QString()};
        rig.window->mnuSourcePortComm[0]->setVisible(false);  // as a discovery that found a port leaves it
        rig.window->Form_Load();
        QVERIFY(rig.g.First_Activate);
        QVERIFY(!rig.window->Meter_Connected);
        QVERIFY(rig.window->mnuSourcePortComm[0]->isVisible());
    }

    // The program as it starts: App_Path is the folder the running program
    // lies in, wherever it was started from.
    void appPathIsTheRunningProgramsFolder()
    {
        QTemporaryDir elsewhere;
        const QString startedIn = QDir::currentPath();
        QVERIFY(QDir::setCurrent(elsewhere.path()));
        QString appPath;
        FwUpStartup::RunWindow([&appPath](frmFwUpMain &w) {
            appPath = w.g.App_Path;
            w.mnuExit_Click();
        });
        QDir::setCurrent(startedIn);
        QCOMPARE(QFileInfo(appPath).canonicalFilePath(),
                 QFileInfo(QStringLiteral(OV_TEST_PROGRAM_DIR)).canonicalFilePath());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
