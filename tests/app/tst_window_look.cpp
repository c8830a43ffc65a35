// What the real window draws, grabbed as a person would see it: the order of
// a box's buttons and the marks in the Port menu, under every style and
// button convention a desktop may have. Positions and what the style is asked
// to draw are compared, not pixels.
#include "MeterEmulatorProcess.h"
#include "WindowRig.h"
#include "app/QtPrompts.h"
#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QtTest>

namespace {

constexpr int kLookEveryMs = 20;
constexpr int kNoLayout = -1;

// A platform style with, optionally, another desktop's button convention;
// it counts the check indicators it is asked to draw.
class LookStyle : public QProxyStyle {
public:
    LookStyle(const QString &base, int buttonLayout)
        : QProxyStyle(QStyleFactory::create(base)), buttonLayout_(buttonLayout)
    {
    }
    mutable int checked = 0, unchecked = 0;

    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_DialogButtonLayout && buttonLayout_ != kNoLayout)
            return buttonLayout_;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        // A box, ticked or empty, or a mark alone (drawn for a checked item only).
        if (element == PE_IndicatorCheckBox)
            ++(option->state & State_On ? checked : unchecked);
        else if (element == PE_IndicatorMenuCheckMark)
            ++checked;
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

private:
    int buttonLayout_;
};

// Saves a grab where OVFW_TEST_SHOTS names a folder, for a person to look at.
void keep(const QImage &shot, const QString &name)
{
    const QString dir = qEnvironmentVariable("OVFW_TEST_SHOTS");
    if (!dir.isEmpty())
        shot.save(QDir(dir).filePath(QString(name).replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]+")),
                                                           QStringLiteral("-")) +
                                     QStringLiteral(".png")));
}

} // namespace

class TestWindowLook : public QObject {
    Q_OBJECT
private slots:
    void noMeterDetectedReadsAbortRetryIgnore_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<int>("buttonLayout");
        const QList<QPair<const char *, int>> conventions{
            {"own", kNoLayout},
            {"Windows", QDialogButtonBox::WinLayout},
            {"Mac", QDialogButtonBox::MacLayout},
            {"KDE", QDialogButtonBox::KdeLayout},
            {"GNOME", QDialogButtonBox::GnomeLayout},
            {"Android", QDialogButtonBox::AndroidLayout}};
        for (const QString &style : QStyleFactory::keys())
            for (const auto &[name, layout] : conventions)
                QTest::addRow("%s, %s buttons", qPrintable(style), name) << style << layout;
    }

    // Connect with no port present asks at once.
    void noMeterDetectedReadsAbortRetryIgnore()
    {
        QFETCH(QString, style);
        QFETCH(int, buttonLayout);
        QApplication::setStyle(new LookStyle(style, buttonLayout));
        WindowRig rig{QStringLiteral("1=/nonexistent/tty1")};
        QtPrompts prompts;
        frmFwUpMain w(rig.g, {rig.comm, prompts, rig.appDir.path(), rig.chipId, rig.opener});
        prompts.setParentWindow(&w);
        w.show();
        QStringList leftToRight;
        QString defaultButton, title;
        QImage shot;
        bool allDrawn = true;
        QTimer look;
        connect(&look, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            look.stop();
            shot = box->grab().toImage();
            title = box->windowTitle();
            QList<QAbstractButton *> buttons = box->buttons();
            std::sort(buttons.begin(), buttons.end(), [box](QAbstractButton *a, QAbstractButton *b) {
                return a->mapTo(box, QPoint()).x() < b->mapTo(box, QPoint()).x();
            });
            for (QAbstractButton *b : buttons) {
                leftToRight << b->text();
                allDrawn = allDrawn && b->isVisible() && shot.rect().contains(QRect(b->mapTo(box, QPoint()), b->size()));
            }
            defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
            for (QAbstractButton *b : buttons)
                if (b->text() == QLatin1String("Abort"))
                    b->click();
        });
        look.start(kLookEveryMs);
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        keep(shot, QStringLiteral("no-meter ") + QTest::currentDataTag());
        QCOMPARE(title, QStringLiteral("ov Firmware Upgrade "));
        QVERIFY(!shot.isNull() && allDrawn);
        QCOMPARE(leftToRight, (QStringList{"Abort", "Retry", "Ignore"}));
        QCOMPARE(defaultButton, QStringLiteral("Abort"));
        QVERIFY(!w.Meter_Connected);
    }

    void portMenuMarksOnlyTheCheckedPort_data()
    {
        QTest::addColumn<QString>("style");
        for (const QString &style : QStyleFactory::keys())
            QTest::newRow(qPrintable(style)) << style;
    }

    // A meter answers on port 1 of three: Comm1: carries the mark, and
    // Comm2: and Comm3: have no box beside them.
    void portMenuMarksOnlyTheCheckedPort()
    {
        QFETCH(QString, style);
        auto *look = new LookStyle(style, kNoLayout);
        QApplication::setStyle(look);
        MeterEmulatorProcess meter, two, three;
        WindowRig rig(QStringLiteral("1=%1,2=%2,3=%3").arg(meter.device(), two.device(), three.device()));
        frmFwUpMain &w = *rig.window;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.cmdConnect, Qt::LeftButton);
        QVERIFY(w.Meter_Connected);
        QMenuBar *bar = w.menuBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(w.mnuSourcePort->menuAction()).center());
        QTRY_VERIFY(w.mnuSourcePort->isVisible());
        look->checked = look->unchecked = 0;
        const QImage shot = w.mnuSourcePort->grab().toImage();
        keep(shot, QStringLiteral("port-menu ") + QTest::currentDataTag());
        w.mnuSourcePort->hide();
        QCOMPARE(look->checked, 1);
        QCOMPARE(look->unchecked, 0);
        QVERIFY(w.mnuSourcePortComm[1]->isChecked());
    }

    void cleanup() { QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion"))); }
};

QTEST_MAIN(TestWindowLook)
#include "tst_window_look.moc"
