#include "app/QtPrompts.h"
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

class TestQtPrompts : public QObject {
    Q_OBJECT
private slots:
    // Each style number the tool uses becomes the right buttons, icon and
    // default button; the button clicked comes back as the answer.
    void stylesBecomeRealMessageBoxes_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("defaultButton");
        QTest::addColumn<QString>("click");
        QTest::addColumn<int>("answer");
        using I = QMessageBox::Icon;
        QTest::newRow("0 OK") << 0 << QStringList{"OK"} << int(I::NoIcon) << "OK" << "OK" << int(MsgAnswer::OK);
        QTest::newRow("16 critical OK") << 16 << QStringList{"OK"} << int(I::Critical) << "OK" << "OK" << int(MsgAnswer::OK);
        QTest::newRow("18 abort retry ignore") << 18 << QStringList{"Abort", "Retry", "Ignore"} << int(I::Critical)
                                               << "Abort" << "Ignore" << int(MsgAnswer::Ignore);
        QTest::newRow("53 retry cancel") << 53 << QStringList{"Retry", "Cancel"} << int(I::Warning) << "Retry"
                                         << "Cancel" << int(MsgAnswer::Cancel);
        QTest::newRow("305 OK cancel, cancel default") << 305 << QStringList{"OK", "Cancel"} << int(I::Warning)
                                                       << "Cancel" << "OK" << int(MsgAnswer::OK);
        QTest::newRow("65 OK cancel, information") << 65 << QStringList{"OK", "Cancel"} << int(I::Information)
                                                   << "OK" << "Cancel" << int(MsgAnswer::Cancel);
        QTest::newRow("69 retry cancel, information") << 69 << QStringList{"Retry", "Cancel"} << int(I::Information)
                                                      << "Retry" << "Retry" << int(MsgAnswer::Retry);
    }

    void stylesBecomeRealMessageBoxes()
    {
        QFETCH(int, style);
        QFETCH(QStringList, buttons);
        QFETCH(int, icon);
        QFETCH(QString, defaultButton);
        QFETCH(QString, click);
        QFETCH(int, answer);
        QtPrompts prompts;
        QStringList seenButtons;
        QString seenDefault, seenTitle, seenText;
        int seenIcon = -1;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenIcon = box->icon();
            QAbstractButton *toClick = nullptr;
            for (QAbstractButton *b : box->buttons()) {
                const QString name = QString(b->text()).remove('&');
                seenButtons << name;
                if (name == click)
                    toClick = b;
            }
            if (box->defaultButton())
                seenDefault = QString(box->defaultButton()->text()).remove('&');
            if (toClick)
                toClick->click();
            else
                box->done(0);
        });
        const MsgAnswer got = prompts.MsgBox({{}, QStringLiteral("Line one\r\nLine two"), style,
                                              style == 0 ? QString() : QStringLiteral("Firmware Upgrade")});
        std::sort(seenButtons.begin(), seenButtons.end());
        std::sort(buttons.begin(), buttons.end());
        QCOMPARE(seenButtons, buttons);
        QCOMPARE(seenIcon, icon);
        QCOMPARE(seenDefault, defaultButton);
        QCOMPARE(seenText, QStringLiteral("Line one\r\nLine two"));
        QCOMPARE(seenTitle, style == 0 ? QStringLiteral("ov Firmware Upgrade") : QStringLiteral("Firmware Upgrade"));
        QCOMPARE(int(got), answer);
    }

    // Esc and the close box answer Cancel where the box has one, and the only
    // button where it has one; a box of several buttons and no Cancel (the "No
    // meter detected" box) stays up until one of its buttons is clicked.
    void escAndCloseBox_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("closeBox");
        QTest::addColumn<bool>("staysUp");
        QTest::addColumn<QString>("click");  // once the box has stayed up
        QTest::addColumn<int>("answer");
        QTest::newRow("18 Esc") << 18 << false << true << "Retry" << int(MsgAnswer::Retry);
        QTest::newRow("18 close box") << 18 << true << true << "Ignore" << int(MsgAnswer::Ignore);
        QTest::newRow("2 Esc") << 2 << false << true << "Abort" << int(MsgAnswer::Abort);
        QTest::newRow("53 Esc") << 53 << false << false << "" << int(MsgAnswer::Cancel);
        QTest::newRow("1 close box") << 1 << true << false << "" << int(MsgAnswer::Cancel);
        QTest::newRow("16 Esc") << 16 << false << false << "" << int(MsgAnswer::OK);
    }

    void escAndCloseBox()
    {
        QFETCH(int, style);
        QFETCH(bool, closeBox);
        QFETCH(bool, staysUp);
        QFETCH(QString, click);
        QFETCH(int, answer);
        QtPrompts prompts;
        bool shown = false, visibleAfter = false;
        QTimer::singleShot(0, this, [&] {
            QPointer<QMessageBox> box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            shown = box->isVisible();
            if (closeBox)
                box->close();
            else
                QTest::keyClick(box, Qt::Key_Escape);
            visibleAfter = box && box->isVisible();
            if (!visibleAfter)
                return;
            for (QAbstractButton *b : box->buttons())
                if (QString(b->text()).remove('&') == click)
                    b->click();
            if (box->isVisible())
                box->done(0);
        });
        const MsgAnswer got = prompts.MsgBox({{}, QStringLiteral("No meter detected"), style, QString()});
        QVERIFY(shown);
        QCOMPARE(visibleAfter, staysUp);
        QCOMPARE(int(got), answer);
    }

    void fileFiltersInQtForm()
    {
        QCOMPARE(QtPrompts::qtFilter("Firmware Upgrade Files (*.OVH)|OV3A_FW*.OVH"),
                 QStringLiteral("Firmware Upgrade Files (*.OVH) (OV3A_FW*.OVH)"));
        QCOMPARE(QtPrompts::qtFilter("Wave Files (*.WAV,*.OVD)|*.WAV;*.OVD|All Files (*.*)|*.*"),
                 QStringLiteral("Wave Files (*.WAV,*.OVD) (*.WAV *.OVD);;All Files (*.*) (*.*)"));
    }

    // The real dialog: the description alone in the type list, the model's
    // files listed whatever their case, the last file offered again, and a
    // typed name of no file returned as it is.
    void upgradeDialogListsOffersAndTakesTypedNames()
    {
        QTemporaryDir dir;
        for (const char *name : {"OV3A_FW0211.OVH", "ov3a_fw0212.ovh", "OV3_FW0100.OVH", "notes.txt"}) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QtPrompts prompts;
        QStringList listed, types;
        QString offered, title;
        QTimer::singleShot(0, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            title = dialog->windowTitle();
            offered = dialog->findChild<QLineEdit *>("fileNameEdit")->text();
            auto *typeList = dialog->findChild<QComboBox *>("fileTypeCombo");
            for (int i = 0; i < typeList->count(); ++i)
                types << typeList->itemText(i);
            auto *view = dialog->findChild<QListView *>("listView");
            QTRY_VERIFY(view->model()->rowCount(view->rootIndex()) >= 2);
            QTest::qWait(200);  // the folder is read in the background
            for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                listed << view->model()->index(r, 0, view->rootIndex()).data().toString();
            dialog->findChild<QLineEdit *>("fileNameEdit")->setText("OV3A_FW9999.OVH");
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const auto chosen = prompts.ShowOpen("Select Upgrade File", "Firmware Upgrade Files (*.OVH)|OV3A_FW*.OVH",
                                             dir.filePath("OV3A_FW0211.OVH"));
        QCOMPARE(title, QStringLiteral("Select Upgrade File"));
        QCOMPARE(offered, QStringLiteral("OV3A_FW0211.OVH"));
        QCOMPARE(types, QStringList{"Firmware Upgrade Files (*.OVH)"});
        listed.sort();
        QCOMPARE(listed, (QStringList{"OV3A_FW0211.OVH", "ov3a_fw0212.ovh"}));
        QCOMPARE(chosen.value_or("<cancelled>"), dir.filePath("OV3A_FW9999.OVH"));
    }
};

QTEST_MAIN(TestQtPrompts)
#include "tst_qt_prompts.moc"
