#include "MeterEmulatorProcess.h"
#include "HexFiles.h"
#include "WindowRig.h"
#include "app/QtPrompts.h"
#include "base/MonotonicClock.h"
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QSerialPort>
#include <QToolButton>
#include <QtTest>
#include <chrono>
#include <csignal>
#include <functional>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kActAfterMs = 50;
constexpr int kSignalAfterMs = 100;
constexpr int kGiveUpAfterMs = 5000;
const QByteArray kSessionForPort7 = QByteArray("7\r\n") + QByteArray("\"\"\r\n").repeated(10);

// The whole program with a meter connection on port 7 open when the user
// quits; `act` runs soon after the main loop has started.
struct ProgramRun {
    MeterEmulatorProcess meter;
    WindowRig rig{meter.portEntry(7), WindowRig::Window::None};
    int exitCode = -1;

    void run(const std::function<void(frmFwUpMain &)> &act)
    {
        exitCode = rig.runProgram([&](frmFwUpMain &w) {
            w.meter().Port_Number = 7;
            rig.g.Port_Menu_Index = 7;
            w.link().Com_Open();
            QTimer::singleShot(kActAfterMs, &w, [&w, act] { act(w); });
        });
    }
};

// The lock files QSerialPort takes for a device ("/dev/pts/3" locks as
// "LCK..pts_3" in the first usable of the usual lock folders).
QStringList lockFilesOf(const QString &device)
{
    QString name = device.startsWith("/dev/") ? device.mid(5) : device;
    name = QStringLiteral("LCK..") + name.replace('/', '_');
    QStringList found;
    for (const char *dir : {"/var/lock", "/run/lock", "/etc/locks", "/var/spool/locks",
                            "/var/spool/uucp", "/tmp", "/var/tmp", "/var/lock/lockdev"})
        if (QFile::exists(QDir(dir).filePath(name)))
            found << QDir(dir).filePath(name);
    return found;
}

bool writeOld(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("old") == 3;
}

// Counts the times the watched window becomes the active one.
struct ActivationCount : QObject {
    int count = 0;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ActivationChange && static_cast<QWidget *>(watched)->isActiveWindow())
            ++count;
        return false;
    }
};

bool sameAction(const struct sigaction &a, const struct sigaction &b)
{
    return a.sa_handler == b.sa_handler && a.sa_flags == b.sa_flags;
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
        QCOMPARE(HexFiles::readAll(p.rig.sessionFile()), kSessionForPort7);
        QVERIFY(p.rig.g.Quit_Request);
        QVERIFY(!p.rig.portOpenAtEnd);
        QCOMPARE(p.rig.prompts.problems(), QStringList());
    }

    void fileExitWritesNothing()
    {
        ProgramRun p;
        QVERIFY(writeOld(p.rig.sessionFile()));
        p.run([](frmFwUpMain &w) { w.mnuExit->trigger(); });
        QCOMPARE(HexFiles::readAll(p.rig.sessionFile()), QByteArray("old"));
        QVERIFY(!p.rig.portOpenAtEnd);
        QCOMPARE(p.rig.prompts.problems(), QStringList());
    }

    void failedSaveStillEnds()
    {
        ProgramRun p;
        const auto perms = QFile::permissions(p.rig.appDir.path());
        QFile::setPermissions(p.rig.appDir.path(), QFile::ReadOwner | QFile::ExeOwner);
        p.rig.prompts.expect("Error Saving Session Config File", 16, "Save Parameters", MsgAnswer::OK);
        p.run([](frmFwUpMain &w) { QTest::mouseClick(w.cmdExit, Qt::LeftButton); });
        QFile::setPermissions(p.rig.appDir.path(), perms);
        QCOMPARE(p.rig.prompts.problems(), QStringList());
        QVERIFY(!QFile::exists(p.rig.sessionFile()));
        QVERIFY(!p.rig.portOpenAtEnd);
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
            quitSeenInCommand = p.rig.g.Quit_Request;
            commandEndedAt = MonotonicClock::now();
        });
        const double programEndedAt = MonotonicClock::now();
        QVERIFY(quitSeenInCommand);
        QVERIFY2(waitLasted >= 0.54, qPrintable(QString::number(waitLasted)));
        QVERIFY(commandEndedAt > t0 && programEndedAt >= commandEndedAt);
        QCOMPARE(QFile::exists(p.rig.sessionFile()), closeBox);
        QVERIFY(!p.rig.portOpenAtEnd);
    }

    // Ctrl+C, kill and a closed terminal end the program as File, Exit does:
    // the port closed and its lock released, no session file written, exit
    // code 0. Inside a running command (a 0.54 s wait) the quit waits for the
    // command, as any other quit request.
    void signalsQuitAsFileExit_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("inACommand");
        QTest::newRow("SIGTERM, idle") << SIGTERM << false;
        QTest::newRow("SIGTERM in a command") << SIGTERM << true;
        QTest::newRow("SIGINT in a command") << SIGINT << true;
        QTest::newRow("SIGHUP in a command") << SIGHUP << true;
    }

    void signalsQuitAsFileExit()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, inACommand);
        ProgramRun p;
        QVERIFY(p.meter.started());
        QVERIFY(writeOld(p.rig.sessionFile()));
        struct sigaction before {}, after {};
        sigaction(signalNumber, nullptr, &before);
        std::thread sender;
        QStringList locksWhileOpen;
        bool quitSeenInCommand = false, gaveUp = false;
        double waitLasted = 0;
        p.run([&](frmFwUpMain &w) {
            locksWhileOpen = lockFilesOf(p.meter.device());
            QTimer::singleShot(kGiveUpAfterMs, &w, [&gaveUp, window = &w] {
                gaveUp = true;
                window->mnuExit_Click();
            });
            // Sent from another thread, as from outside: any thread may take it.
            sender = std::thread([signalNumber] {
                std::this_thread::sleep_for(std::chrono::milliseconds(kSignalAfterMs));
                ::kill(::getpid(), signalNumber);
            });
            if (!inACommand)
                return;
            const double start = MonotonicClock::now();
            w.link().TDelay(10);
            waitLasted = MonotonicClock::now() - start;
            quitSeenInCommand = p.rig.g.Quit_Request && w.mainLoopRunning();
        });
        if (sender.joinable())
            sender.join();
        sigaction(signalNumber, nullptr, &after);
        QVERIFY(!gaveUp);
        QCOMPARE(p.exitCode, 0);
        QVERIFY(p.rig.g.Quit_Request);
        QVERIFY(!p.rig.portOpenAtEnd);
        QCOMPARE(HexFiles::readAll(p.rig.sessionFile()), QByteArray("old"));
        QVERIFY(!locksWhileOpen.isEmpty());
        QCOMPARE(lockFilesOf(p.meter.device()), QStringList());
        QSerialPort again(p.meter.device());
        QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
        QCOMPARE(p.rig.prompts.problems(), QStringList());
        QVERIFY(sameAction(after, before));  // the handlers are put back
        if (inACommand) {
            QVERIFY(quitSeenInCommand);
            QVERIFY2(waitLasted >= 0.54, qPrintable(QString::number(waitLasted)));
        }
    }

    // A stop signal with a box open: About, Device Info and the file dialog
    // stand outside any running work and are closed; a question inside a
    // command is answered as Esc answers it (Cancel). Then the program ends.
    void aStopSignalAnswersTheOpenBox_data()
    {
        QTest::addColumn<QString>("box");
        for (const char *box : {"About", "Device Info", "file dialog", "question in a command"})
            QTest::newRow(box) << QString::fromLatin1(box);
    }
    void aStopSignalAnswersTheOpenBox()
    {
        QFETCH(QString, box);
        ProgramRun p;
        std::thread sender;
        bool gaveUp = false, answered = false;
        p.run([&](frmFwUpMain &w) {
            QTimer::singleShot(kGiveUpAfterMs, &w, [&gaveUp, window = &w] {
                gaveUp = true;
                if (auto *open = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                    open->done(QDialog::Rejected);
                window->mnuExit_Click();
            });
            sender = std::thread([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(kSignalAfterMs));
                ::kill(::getpid(), SIGTERM);
            });
            QtPrompts real;
            real.setParentWindow(&w);
            if (box == QLatin1String("About")) {
                w.mnuhelpAbout_Click();
                answered = true;
            } else if (box == QLatin1String("Device Info")) {
                w.mnuDeviceInfo_Click();
                answered = true;
            } else if (box == QLatin1String("file dialog")) {
                answered = !real.ShowOpen(QStringLiteral("Open"), QStringLiteral("Files (*.OVH)|*.OVH"), {});
            } else {
                answered = real.MsgBox(Question{{QuestionKind::NotResponding}, QStringLiteral("Retry?"),
                                                MsgStyle::RetryCancel, {}}) == MsgAnswer::Cancel;
            }
        });
        if (sender.joinable())
            sender.join();
        QVERIFY2(!gaveUp, "the box stayed open");
        QVERIFY(answered);
        QCOMPARE(p.exitCode, 0);
        QVERIFY(p.rig.g.Quit_Request);
        QVERIFY(!p.rig.portOpenAtEnd);
    }

    // Started with SIGHUP ignored (nohup), closing the terminal ends nothing.
    void ignoredSignalStaysIgnored()
    {
        ProgramRun p;
        struct sigaction ignore {}, before {}, during {}, after {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGHUP, &ignore, &before);
        p.run([&](frmFwUpMain &w) {
            sigaction(SIGHUP, nullptr, &during);
            w.mnuExit->trigger();
        });
        sigaction(SIGHUP, &before, &after);
        QVERIFY(during.sa_handler == SIG_IGN);
        QVERIFY(after.sa_handler == SIG_IGN);
    }

    // Closing a side window activates the main window again (the desktop
    // does it; here it is asked for as the side window goes): that
    // activation yields and returns, no second main loop starts, and File,
    // Exit still ends the program.
    void laterActivationsStartNoSecondLoop()
    {
        ProgramRun p;
        ActivationCount activations;
        bool gaveUp = false;
        p.run([&](frmFwUpMain &w) {
            QVERIFY(!p.rig.g.First_Activate);
            // A second loop would keep the first from ever seeing the quit.
            QTimer::singleShot(kGiveUpAfterMs, [&gaveUp] {
                gaveUp = true;
                QCoreApplication::exit();
            });
            w.installEventFilter(&activations);
            for (QAction *sideWindow : {w.mnuhelpAbout, w.mnuDeviceInfo}) {
                QTimer::singleShot(kActAfterMs, [] {
                    if (QWidget *side = QApplication::activeModalWidget())
                        side->close();
                });
                sideWindow->trigger();  // returns once the side window has closed
                w.activateWindow();
                QTRY_VERIFY(w.isActiveWindow());
            }
            w.mnuExit->trigger();
        });
        QVERIFY2(!gaveUp, "a second main loop kept the program alive");
        QCOMPARE(activations.count, 2);
        QVERIFY(!p.rig.portOpenAtEnd);
    }
};

QTEST_MAIN(TestQuitting)
#include "tst_quitting.moc"
