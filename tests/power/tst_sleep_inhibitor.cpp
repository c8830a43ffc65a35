// The sleep inhibitor lock, against a stand-in login manager on a private
// bus: held while a transfer runs, in ovfw and in the window, closed after;
// and nothing at all where there is no login manager.
#include "HexFiles.h"
#include "MeterEmulatorProcess.h"
#include "WindowRig.h"
#include "power/SleepInhibitor.h"
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {
constexpr int kStartMs = 10000;
constexpr int kRunTimeoutMs = 60000;
const QString kOvfwLock = QStringLiteral("inhibit sleep|ovfw|Upgrading meter firmware|block");
const QString kWindowLock = QStringLiteral("inhibit sleep|ov Firmware Upgrade|Upgrading meter firmware|block");
const QString kReleased = QStringLiteral("released");

// A bus of our own, in the role of the system bus.
struct PrivateBus {
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    PrivateBus()
    {
        QFile config(dir.filePath(QStringLiteral("bus.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral(
                         "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                         " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                         "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>\n"
                         "<policy context=\"default\"><allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                         "<allow own=\"*\"/>"
                         "<allow user=\"*\"/></policy></busconfig>\n")
                         .arg(dir.path())
                         .toUtf8());
        config.close();
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address")});
        while (!daemon.canReadLine() && daemon.waitForReadyRead(kStartMs)) {
        }
        address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        daemon.terminate();
        daemon.waitForFinished();
    }
};

// The stand-in login manager; what it said so far.
struct LoginManager {
    QProcess process;
    QString said;
    explicit LoginManager(const QString &busAddress)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(OV_LOGIN_MANAGER_STANDIN_PATH));
        while (!output().contains(QStringLiteral("ready")) && process.waitForReadyRead(kStartMs)) {
        }
    }
    ~LoginManager()
    {
        process.terminate();
        process.waitForFinished();
    }
    QString output()
    {
        said += QString::fromUtf8(process.readAllStandardOutput());
        return said;
    }
    bool held(const QString &lock) { return output().contains(lock) && !said.contains(kReleased); }
};

int linesReceived(const MeterEmulatorProcess &meter)
{
    int lines = 0;
    for (const auto &b : meter.wireMessages())
        lines += b.toMeter && b.bytes.startsWith(':');
    return lines;
}
}

class TestSleepInhibitor : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        QVERIFY2(!bus_.address.isEmpty(), "dbus-daemon did not start");
        // Before the first use of the system bus in this process.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus_.address.toUtf8());
        hex_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), 4 * 1024);
        QVERIFY(!hex_.path.isEmpty());
    }

    void withoutALoginManagerTheToolGoesOn()
    {
        QElapsedTimer t;
        t.start();
        SleepInhibitor lock(QStringLiteral("tester"));
        lock.acquire();
        QVERIFY(!lock.held());
        QVERIFY(t.elapsed() < 1000);
    }

    void ovfwHoldsTheLockWhileMetersTakeTheirFirmware()
    {
        LoginManager manager(bus_.address);
        QVERIFY(manager.output().contains(QStringLiteral("ready")));
        MeterEmulatorProcess meter({"--no-pacing", "--reply-delay", "20"});
        QProcess ovfw;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OVFW_PORTS"), QStringLiteral("1=%1").arg(meter.device()));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus_.address);
        ovfw.setProcessEnvironment(env);
        ovfw.start(QStringLiteral(OVFW_PATH), {"upgrade", hex_.path, "--yes", "--port", "1"});
        ovfw.closeWriteChannel();
        QTRY_VERIFY_WITH_TIMEOUT(linesReceived(meter) > 10, kRunTimeoutMs);
        QVERIFY2(manager.held(kOvfwLock), qPrintable(manager.said));
        QVERIFY(ovfw.waitForFinished(kRunTimeoutMs));
        QCOMPARE(ovfw.exitCode(), 0);
        QTRY_VERIFY2(manager.output().contains(kReleased), qPrintable(manager.said));
    }

    void theWindowHoldsTheLockDuringTheTransfer()
    {
        LoginManager manager(bus_.address);
        MeterEmulatorProcess meter({"--boot", "--no-pacing", "--reply-delay", "20"});
        WindowRig rig(QStringLiteral("1=%1").arg(meter.device()));
        rig.window->Form_Load();
        rig.window->Check_Boot();
        QVERIFY(rig.window->Meter_Connected);
        rig.window->cmdUpgrade->setEnabled(true);
        bool heldMidTransfer = false, releasedAtTheOutcome = false;
        QTimer look;
        connect(&look, &QTimer::timeout, [&] {
            heldMidTransfer = heldMidTransfer || (linesReceived(meter) > 10 && manager.held(kWindowLock));
        });
        look.start(20);
        rig.prompts.expectOpen(hex_.path);
        rig.prompts.expect(QStringLiteral("Upgrade Complete."), 64, QStringLiteral("Firmware Upgrade"), MsgAnswer::OK,
                           [&] {
                               QTRY_VERIFY(manager.output().contains(kReleased));
                               releasedAtTheOutcome = true;
                           });
        QTest::mouseClick(rig.window->cmdUpgrade, Qt::LeftButton);
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        QVERIFY2(heldMidTransfer, qPrintable(manager.said));
        QVERIFY(releasedAtTheOutcome);
    }

private:
    QTemporaryDir dir_;
    PrivateBus bus_;
    HexFiles::Made hex_;
};

QTEST_MAIN(TestSleepInhibitor)
#include "tst_sleep_inhibitor.moc"
