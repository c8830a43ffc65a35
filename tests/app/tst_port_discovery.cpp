#include "MeterEmulatorProcess.h"
#include "WindowRig.h"
#include <QAction>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {
// What the program writes to standard error while this lives: the notes on
// absent ports, one a line.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        const int fd = ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }

    QStringList portNotes()
    {
        restore();
        QFile f(path_);
        f.open(QIODevice::ReadOnly);
        QStringList notes;
        for (const QString &line : QString::fromLocal8Bit(f.readAll()).split(QLatin1Char('\n')))
            if (line.startsWith(QLatin1String("port ")))
                notes << line;
        return notes;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    QTemporaryDir dir_;
    QString path_ = dir_.filePath(QStringLiteral("stderr.txt"));
    int saved_ = -1;
};

// Whether this process opens a device whatever its mode says (root with its
// file-permission override).
bool permissionsBindUs(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
    return fd < 0;
}

QStringList visibleItems(const frmFwUpMain &w)
{
    QStringList out;
    for (QAction *a : w.mnuSourcePortComm)
        if (a->isVisible())
            out << a->text();
    return out;
}
}

class TestPortDiscovery : public QObject {
    Q_OBJECT
private slots:
    void noPortsShowsOnlyNone()
    {
        WindowRig rig(QStringLiteral("4=/nonexistent/tty4"));
        rig.window->Init_Ports();
        QCOMPARE(visibleItems(*rig.window), QStringList{"None"});
        QVERIFY(!rig.window->mnuSourcePortComm[0]->isEnabled());
        for (bool present : rig.g.Port_Present)
            QVERIFY(!present);
    }

    void presentPortsAreListedDisabledAndUnchecked()
    {
        MeterEmulatorProcess three, seven;
        QVERIFY(three.started() && seven.started());
        WindowRig rig(QStringLiteral("3=%1,7=%2,9=/nonexistent/tty9").arg(three.device(), seven.device()));
        // Leftovers of an earlier connection: a check on present port 7 and
        // on port 9, which has gone away since.
        rig.window->mnuSourcePortComm[7]->setChecked(true);
        rig.window->mnuSourcePortComm[9]->setChecked(true);
        rig.window->Init_Ports();
        QCOMPARE(visibleItems(*rig.window), (QStringList{"Comm3:", "Comm7:"}));
        for (int n : {3, 7}) {
            QVERIFY(!rig.window->mnuSourcePortComm[n]->isEnabled());
            QVERIFY(!rig.window->mnuSourcePortComm[n]->isChecked());
        }
        QVERIFY(rig.window->mnuSourcePortComm[9]->isChecked());  // absent: left as it was
        for (int n = 0; n <= 16; ++n)
            QCOMPARE(rig.g.Port_Present[n], n == 3 || n == 7);
        QVERIFY(!rig.comm.portOpen());
        QVERIFY(rig.prompts.problems().isEmpty());
    }

    void portHeldByAnotherProgramIsAbsent()
    {
        MeterEmulatorProcess free, held;
        PortHolderProcess holder(held.device());
        QVERIFY(holder.holding());
        WindowRig rig(QStringLiteral("2=%1,5=%2").arg(held.device(), free.device()));
        rig.window->Init_Ports();
        QCOMPARE(visibleItems(*rig.window), QStringList{"Comm5:"});
        QVERIFY(!rig.g.Port_Present[2]);
    }

    void absentPortSaysWhyOnce_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("why");
        QTest::newRow("missing") << "missing" << "missing";
        QTest::newRow("regular file") << "file" << "not a serial device";
        QTest::newRow("permission denied")
            << "mode 000"
            << "permission denied; the package's udev rule (70-ovfw-upgrade.rules) gives the person at "
               "the seat the FTDI adapters: plug the adapter in again; otherwise add your user to the "
               "dialout group (e.g. sudo usermod -aG dialout $USER), then log in again";
        QTest::newRow("in use") << "held" << "in use by another program";
    }

    void absentPortSaysWhyOnce()
    {
        QFETCH(QString, kind);
        QFETCH(QString, why);
        MeterEmulatorProcess meter;
        QVERIFY(meter.started());
        QTemporaryDir dir;
        QString device = meter.device();
        std::unique_ptr<PortHolderProcess> holder;
        if (kind == QLatin1String("missing")) {
            device = dir.filePath(QStringLiteral("gone"));
        } else if (kind == QLatin1String("file")) {
            device = dir.filePath(QStringLiteral("regular"));
            QFile f(device);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind == QLatin1String("mode 000")) {
            QVERIFY(QFile::setPermissions(device, {}));
            if (!permissionsBindUs(device))
                QSKIP("file permissions do not bind this process; ctest runs this without root's override");
        } else {
            holder = std::make_unique<PortHolderProcess>(device);
            QVERIFY(holder->holding());
        }
        WindowRig rig(QStringLiteral("3=%1").arg(device));
        StderrCapture err;
        rig.window->Init_Ports();
        rig.window->Init_Ports();  // as at every Connect: nothing new to say
        QCOMPARE(err.portNotes(), QStringList{QStringLiteral("port 3 (%1): %2").arg(device, why)});
        QVERIFY(!rig.g.Port_Present[3]);
    }

    void missingDefaultPortsAreNotNoted()
    {
        FwUpGlobals g;
        QtCommPort comm(PortMap::systemDefault());
        ScriptedPrompts prompts;
        FakeChipIdLibrary chipId;
        RecordingDocumentOpener opener;
        QTemporaryDir appDir;
        frmFwUpMain window(g, {comm, prompts, appDir.path(), chipId, opener});
        StderrCapture err;
        window.Init_Ports();
        for (const QString &note : err.portNotes())
            QVERIFY2(!note.endsWith(QLatin1String(": missing")), qPrintable(note));
    }

    void discoveryClosesAnOpenPort()
    {
        MeterEmulatorProcess meter;
        WindowRig rig(meter.portEntry());
        rig.meter().Port_Number = 1;
        rig.window->link().Com_Open();
        QVERIFY(rig.comm.portOpen());
        rig.window->Init_Ports();
        QVERIFY(!rig.comm.portOpen());
        QVERIFY(rig.g.Port_Present[1]);
    }

    // The Port items only show: one triggered from code, even after being
    // told to enable, starts nothing, and its mark stays as it was.
    void clickingAPortItemDoesNothing()
    {
        MeterEmulatorProcess meter;
        WindowRig rig(meter.portEntry());
        rig.window->Init_Ports();
        QAction *item = rig.window->mnuSourcePortComm[1];
        item->setEnabled(true);
        for (const bool marked : {false, true}) {
            item->setChecked(marked);
            item->trigger();
            QCOMPARE(item->isChecked(), marked);
        }
        QTest::qWait(50);
        QCOMPARE(rig.meter().Port_Number, std::int16_t(0));
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(0));
        QVERIFY(!rig.comm.portOpen());
        QVERIFY(rig.prompts.shown().isEmpty());
        QVERIFY(meter.wire().isEmpty());
    }
};

QTEST_MAIN(TestPortDiscovery)
#include "tst_port_discovery.moc"
