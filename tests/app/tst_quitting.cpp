#include "MeterEmulatorProcess.h"
#include "FakeChipIdLibrary.h"
#include "RecordingDocumentOpener.h"
#include "ScriptedPrompts.h"
#include "app/FwUpStartup.h"
#include "base/MonotonicClock.h"
#include "link/QtCommPort.h"
#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <functional>

namespace {

constexpr int kActAfterMs = 50;
const QByteArray kSessionForPort7 = QByteArray("7\r\n") + QByteArray("\"\"\r\n").repeated(10);

// Runs the whole program (start-up, main loop, end) with a real serial port
// on the meter emulator and scripted prompts; `act` runs once the window is up.
struct ProgramRun {
    FwUpGlobals g;
    MeterEmulatorProcess meter;
    QtCommPort comm{PortMap::fromOverride(QStringLiteral("7=%1").arg(meter.device()))};
    ScriptedPrompts prompts;
    FakeChipIdLibrary chipId;
    RecordingDocumentOpener opener;
    QTemporaryDir appDir;
    bool portOpenAtEnd = true;
    bool windowVisibleAtEnd = true;

    QString sessionFile() const { return appDir.filePath("ra_zezidev.cfg"); }

    void run(const std::function<void(frmFwUpMain &)> &act)
    {
        FwUpStartup::Main(g, {comm, prompts, appDir.path(), chipId, opener}, [&](frmFwUpMain &w) {
            // A meter connection on port 7 is open when the user quits.
            g.Port_Number = 7;
            g.Port_Menu_Index = 7;
            w.link().Com_Open();
            // Soon after the main loop has started.
            QTimer::singleShot(kActAfterMs, &w, [&w, act] { act(w); });
        });
        portOpenAtEnd = comm.portOpen();
    }
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

} // namespace

class TestQuitting : public QObject {
    Q_OBJECT
private slots:
    void exitButtonAndCloseBoxSaveTheSession_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Exit button") << false;
        QTest::newRow("close box") << true;
    }

    void exitButtonAndCloseBoxSaveTheSession()
    {
        QFETCH(bool, closeBox);
        ProgramRun p;
        QVERIFY(p.meter.started());
        p.run([closeBox](frmFwUpMain &w) {
            if (closeBox)
                w.close();
            else
                QTest::mouseClick(w.cmdExit, Qt::LeftButton);
        });
        QCOMPARE(readAll(p.sessionFile()), kSessionForPort7);
        QVERIFY(p.g.Quit_Request);
        QVERIFY(!p.portOpenAtEnd);
        QCOMPARE(p.prompts.problems(), QStringList());
    }

    void fileExitWritesNothing()
    {
        ProgramRun p;
        QFile old(p.sessionFile());
        QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
        old.close();
        p.run([](frmFwUpMain &w) { w.mnuExit->trigger(); });
        QCOMPARE(readAll(p.sessionFile()), QByteArray("old"));
        QVERIFY(!p.portOpenAtEnd);
        QCOMPARE(p.prompts.problems(), QStringList());
    }

    void failedSaveStillEnds()
    {
        ProgramRun p;
        const auto perms = QFile::permissions(p.appDir.path());
        QFile::setPermissions(p.appDir.path(), QFile::ReadOwner | QFile::ExeOwner);
        p.prompts.expect("Error Saving Session Config File", 16, "Save Parameters", MsgAnswer::OK);
        p.run([](frmFwUpMain &w) { QTest::mouseClick(w.cmdExit, Qt::LeftButton); });
        QFile::setPermissions(p.appDir.path(), perms);
        QCOMPARE(p.prompts.problems(), QStringList());
        QVERIFY(!QFile::exists(p.sessionFile()));
        QVERIFY(!p.portOpenAtEnd);
    }

    // A quit asked for inside a running command (here a 0.54 s wait, as
    // Connect makes) ends the program only once that command has returned,
    // and the command's wait is not cut short.
    void quitInsideACommandWaitsForIt_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("File, Exit") << false;
        QTest::newRow("close box") << true;
    }

    void quitInsideACommandWaitsForIt()
    {
        QFETCH(bool, closeBox);
        ProgramRun p;
        double waitLasted = 0, commandEndedAt = 0;
        bool quitSeenInCommand = false;
        const double t0 = MonotonicClock::now();
        p.run([&](frmFwUpMain &w) {
            QTimer::singleShot(100, &w, [&w, closeBox] {
                if (closeBox)
                    w.close();
                else
                    w.mnuExit->trigger();
            });
            const double start = MonotonicClock::now();
            w.link().TDelay(10);
            waitLasted = MonotonicClock::now() - start;
            quitSeenInCommand = p.g.Quit_Request;
            commandEndedAt = MonotonicClock::now();
        });
        const double programEndedAt = MonotonicClock::now();
        QVERIFY(quitSeenInCommand);
        QVERIFY2(waitLasted >= 0.54, qPrintable(QString::number(waitLasted)));
        QVERIFY(commandEndedAt > t0 && programEndedAt >= commandEndedAt);
        QCOMPARE(QFile::exists(p.sessionFile()), closeBox);
        QVERIFY(!p.portOpenAtEnd);
    }

    void laterActivationsStartNoSecondLoop()
    {
        ProgramRun p;
        int activationsServed = 0;
        p.run([&](frmFwUpMain &w) {
            QVERIFY(!p.g.First_Activate);
            w.Form_Activate();  // as when a side window closes: yields, returns
            ++activationsServed;
            w.mnuExit->trigger();
        });
        QCOMPARE(activationsServed, 1);
        QVERIFY(!p.portOpenAtEnd);
    }
};

QTEST_MAIN(TestQuitting)
#include "tst_quitting.moc"
