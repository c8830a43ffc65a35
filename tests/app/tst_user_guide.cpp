#include "MeterEmulatorProcess.h"
#include "WindowRig.h"
#include "app/DocumentOpener.h"
#include <QDesktopServices>
#include <QProcess>
#include <QtTest>

namespace {
QString run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(10000);
    return p.exitCode() == 0 ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}

// A picture as pdfimages lists it: its size in pixels and its resolution on the page.
struct PdfPicture {
    int width, height, ppi;
};

QList<PdfPicture> picturesIn(const QString &pdf)
{
    QList<PdfPicture> out;
    // page num type width height color comp bpc enc interp object ID x-ppi ...
    for (const QString &line : run("pdfimages", {"-list", pdf}).split('\n')) {
        const QStringList f = line.simplified().split(' ');
        if (f.size() > 12 && f[2] == QLatin1String("image"))
            out.append({f[3].toInt(), f[4].toInt(), f[12].toInt()});
    }
    return out;
}
}

class TestUserGuide : public QObject {
    Q_OBJECT
public slots:
    // The desktop's viewer, as QDesktopServices reaches it for a file.
    void openedByTheDesktop(const QUrl &url) { desktopOpened_ << url; }

private slots:
    void initTestCase() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openedByTheDesktop"); }
    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    void init() { desktopOpened_.clear(); }

    // The window's own opener: the guide beside the program goes to the
    // desktop's viewer; a missing one, nowhere, and nothing is shown.
    void helpOpensTheGuideBesideTheProgram_data()
    {
        QTest::addColumn<bool>("present");
        QTest::newRow("guide present") << true;
        QTest::newRow("guide missing") << false;
    }

    void helpOpensTheGuideBesideTheProgram()
    {
        QFETCH(bool, present);
        WindowRig rig{QString()};
        const QString guide = rig.appDir.filePath(QStringLiteral("Upgrade User Guide V100.pdf"));
        if (present)
            QVERIFY(QFile::copy(QStringLiteral(OV_USER_GUIDE_PDF), guide));
        QtDocumentOpener desktop;
        frmFwUpMain w(rig.g, {rig.comm, rig.prompts, rig.appDir.path(), rig.chipId, desktop});
        w.mnuHelpHelp->trigger();
        QCOMPARE(desktopOpened_, present ? QList<QUrl>{QUrl::fromLocalFile(guide)} : QList<QUrl>{});
        QVERIFY(rig.prompts.shown().isEmpty());
    }

    void helpWorksDuringASearch()
    {
        MeterEmulatorProcess silent({"--silent"});
        WindowRig rig(silent.portEntry());
        rig.window->Form_Load();
        QStringList openedDuringSearch;
        QTimer::singleShot(300, rig.window.get(), [&] {
            rig.window->mnuHelpHelp->trigger();
            openedDuringSearch = rig.opener.opened;
        });
        rig.prompts.expect(QStringLiteral("No meter detected\r\nRetry - First check meter is connected "
                                          "and turned on.\r\nIgnore - If meter is already in upgrade mode "
                                          "(permanent red LED).\r\nOtherwise - Abort"),
                           18, QStringLiteral("ov Firmware Upgrade "), MsgAnswer::Abort);
        rig.window->cmdConnect_Click();
        QCOMPARE(openedDuringSearch.size(), 1);
        QCOMPARE(rig.prompts.problems(), QStringList());
    }

    void theBuildMakesAValidGuide()
    {
        const QString pdf = QStringLiteral(OV_USER_GUIDE_PDF);
        QFile f(pdf);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(pdf));
        QVERIFY(f.read(5) == "%PDF-");
        const QString info = run("pdfinfo", {pdf});
        const auto pages = QRegularExpression("Pages:\\s+(\\d+)").match(info);
        QVERIFY2(pages.hasMatch() && pages.captured(1).toInt() >= 3, qPrintable(info));
        const QString text = run("pdftotext", {pdf, "-"});
        for (const char *topic : {"Connecting a meter", "Upgrading the firmware", "Messages and what to do",
                                  "Recovering a meter left in its boot loader", "OVFW_PORTS", "dialout",
                                  "latency", "demo.sh", "No meter detected", "Unexpected end of file",
                                  "Running a station"})
            QVERIFY2(text.contains(QLatin1String(topic)), topic);

        // The four pictures drawn from the program at build time, each at a
        // size that is sharp on paper and fits the page.
        const QList<PdfPicture> pictures = picturesIn(pdf);
        QCOMPARE(pictures.size(), 4);
        constexpr int kSharpPpi = 150, kFinestPpi = 600;
        for (const PdfPicture &p : pictures)
            QVERIFY2(p.ppi >= kSharpPpi && p.ppi <= kFinestPpi,
                     qPrintable(QStringLiteral("%1x%2 at %3 ppi").arg(p.width).arg(p.height).arg(p.ppi)));
    }

    // A guide that names a picture nobody drew makes no PDF at all.
    void aMissingPictureFailsTheGuide()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath("guide.md"), pdf = dir.filePath("guide.pdf");
        QFile md(source);
        QVERIFY(md.open(QIODevice::WriteOnly));
        md.write("# Guide\n\n![A window](nowhere.png)\n");
        md.close();
        QProcess tool;
        tool.start(QStringLiteral(OV_USER_GUIDE_PDF_TOOL), {source, dir.path(), pdf});
        QVERIFY(tool.waitForFinished(10000));
        QCOMPARE(tool.exitCode(), 1);
        QVERIFY(QString::fromLocal8Bit(tool.readAllStandardError()).contains("nowhere.png"));
        QVERIFY(!QFile::exists(pdf));
    }

private:
    QList<QUrl> desktopOpened_;
};

QTEST_MAIN(TestUserGuide)
#include "tst_user_guide.moc"
