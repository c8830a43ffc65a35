#include "IconPixels.h"
#include "WindowRig.h"
#include "windows/frmFwUpAbout.h"
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QWindow>
#include <QtTest>

namespace {
const QString kDisclaimer = QStringLiteral(
    "Note: ...   the associated hardware. It is accepted \"as-is\" and no warranties, or "
    "suggestions of suitability for any purpose are implied.");

struct Seen {
    QString caption, version, title, disclaimer, okText;
    bool modal = false, okIsDefault = false, centred = false;
};

// Opens Help, About, notes what the window shows, then closes it with `key`.
Seen openAbout(frmFwUpMain &w, Qt::Key key)
{
    Seen seen;
    bool closedByKey = false;
    QTimer::singleShot(0, &w, [&] {
        auto *about = qobject_cast<frmFwUpAbout *>(QApplication::activeModalWidget());
        if (!about)
            return;
        seen = {about->windowTitle(), about->lblSoft->text(), about->lblTitle->text(),
                about->lblDisclaimer->text(), about->cmdOK->text(), about->isModal(),
                about->cmdOK->isDefault(),
                (about->geometry().center() - w.geometry().center()).manhattanLength() < 40};
        QTest::keyClick(about, key);
        closedByKey = !about->isVisible();
        if (!closedByKey)
            about->reject();  // do not leave the test hanging
    });
    w.mnuhelpAbout->trigger();
    if (!closedByKey)
        seen.caption = QStringLiteral("<not closed by the key>");
    return seen;
}
}

class TestAbout : public QObject {
    Q_OBJECT
private slots:
    void showsVersionAndDisclaimerOnEveryOpening()
    {
        WindowRig rig{QString()};
        rig.window->show();
        QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
            const Seen seen = openAbout(*rig.window, key);
            QCOMPARE(seen.caption, QStringLiteral("About ov Firmware Upgrade"));
            QCOMPARE(seen.version, QStringLiteral("1.0.2"));
            QCOMPARE(seen.title, QStringLiteral("orvane"));
            QCOMPARE(seen.disclaimer, kDisclaimer);  // appended once, also the second time
            QCOMPARE(seen.okText, QStringLiteral("OK"));
            QVERIFY(seen.modal && seen.okIsDefault && seen.centred);
        }
        QVERIFY(rig.prompts.problems().isEmpty());
    }

    void layoutAsBuilt()
    {
        frmFwUpAbout about;
        QCOMPARE(about.size(), QSize(382, 202));
        QCOMPARE(about.lblDisclaimer->geometry(), QRect(17, 136, 258, 55));
        QVERIFY(about.lblDisclaimer->wordWrap());
        QCOMPARE(about.cmdOK->geometry(), QRect(283, 136, 84, 23));
        QCOMPARE(about.Label5->text(), QStringLiteral("Software Version:"));
        QVERIFY(about.Label6->text().startsWith(QStringLiteral("https://")));
        QCOMPARE(about.lblTitle->font().pointSizeF(), 13.5);
        QVERIFY(about.lblTitle->font().bold());
        QVERIFY(!about.picIcon->pixmap().isNull());
    }

    // The main window's icon is not handed down to it.
    void carriesNoIcon()
    {
        WindowRig rig{QString()};
        frmFwUpAbout about(rig.window.get());
        about.winId();  // the window as the window system is given it
        QVERIFY(drawsNothing(about.windowIcon()));
        QVERIFY(drawsNothing(about.windowHandle()->icon()));
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
