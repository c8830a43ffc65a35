// The sleep inhibitor lock, against a stand-in login manager on a private
// bus: held while a transfer runs, in ovfw and in the window, closed after;
// nothing at all where there is no login manager; and no wait where the
// login manager does not answer.
#include "HexFiles.h"
#include "OvfwRig.h"
#include "WindowRig.h"
#include "power/SleepInhibitor.h"
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <csignal>

namespace {
constexpr int kStartMs = 10000;
constexpr int kRunTimeoutMs = 60000;
constexpr int kLookEveryMs = 10;
// Far below the 2 s a wait for a silent login manager would take.
constexpr double kNoWaitSeconds = 1.0;
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

// A login manager that takes calls but does not answer them while this lives.
struct Stalled {
    qint64 pid;
    explicit Stalled(const QProcess &p) : pid(p.processId()) { ::kill(static_cast<pid_t>(pid), SIGSTOP); }
    ~Stalled() { ::kill(static_cast<pid_t>(pid), SIGCONT); }
};

int linesReceived(const MeterEmulatorProcess &meter)
{
    int lines = 0;
    for (const QByteArray &m : meter.receivedMessageBytes())
        lines += m.startsWith(':');
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
        QVERIFY(QDir(dir_.path()).mkdir(QStringLiteral("small")));
        small_ = HexFiles::make(dir_.filePath(QStringLiteral("small")), QStringLiteral("OV3A_FW0211.OVH"), 256);
        QVERIFY(!small_.path.isEmpty());
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
        QProcessEnvironment env = ovfwEnvironment(meter.portEntry());
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus_.address);
        QProcess ovfw;
        startOvfw(ovfw, {"upgrade", hex_.path, "--yes", "--port", "1"}, env);
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
        WindowRig rig(meter.portEntry());
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

    // The window: the first line follows the switch's PASS at once, as with
    // no lock at all (a wait for the answer would hold it for 2 s).
    void aStalledLoginManagerHoldsUpNoLine()
    {
        LoginManager manager(bus_.address);
        QVERIFY(manager.output().contains(QStringLiteral("ready")));
        const Stalled stalled(manager.process);
        MeterEmulatorProcess meter({"--no-pacing"});
        WindowRig rig(meter.portEntry());
        rig.window->Form_Load();
        rig.window->cmdConnect_Click();
        QVERIFY(rig.window->Meter_Connected);
        rig.prompts.expectOpen(small_.path);
        rig.prompts.expectContaining(QStringLiteral("Ready to download"), 305, QStringLiteral("Firmware Upgrade"),
                                     MsgAnswer::OK);
        rig.prompts.expect(QStringLiteral("Upgrade Complete."), 64, QStringLiteral("Firmware Upgrade"),
                           MsgAnswer::OK);
        QTest::mouseClick(rig.window->cmdUpgrade, Qt::LeftButton);
        QVERIFY2(rig.prompts.problems().isEmpty(), qPrintable(rig.prompts.problems().join("; ")));
        double switchedAt = -1, firstLineAt = -1;
        for (const auto &m : meter.wireMessages()) {
            if (!m.toMeter && m.bytes.startsWith("PASS") && switchedAt < 0)
                switchedAt = m.seconds;
            if (m.toMeter && m.bytes.startsWith(':')) {
                firstLineAt = m.seconds;
                break;
            }
        }
        QVERIFY(switchedAt >= 0 && firstLineAt >= switchedAt);
        QVERIFY2(firstLineAt - switchedAt < kNoWaitSeconds, qPrintable(QString::number(firstLineAt - switchedAt)));
    }

    // ovfw: the first byte reaches the meter as soon after the start as
    // with no login manager on the bus at all.
    void aStalledLoginManagerHoldsUpNoMeter()
    {
        const double unhindered = secondsToFirstByte();
        LoginManager manager(bus_.address);
        QVERIFY(manager.output().contains(QStringLiteral("ready")));
        const Stalled stalled(manager.process);
        const double stalledAt = secondsToFirstByte();
        QVERIFY(unhindered >= 0 && stalledAt >= 0);
        QVERIFY2(stalledAt - unhindered < kNoWaitSeconds,
                 qPrintable(QStringLiteral("%1 s against %2 s").arg(stalledAt).arg(unhindered)));
    }

private:
    // Seconds from ovfw's start until the meter hears its first byte.
    double secondsToFirstByte()
    {
        MeterEmulatorProcess meter({"--no-pacing"});
        QProcessEnvironment env = ovfwEnvironment(meter.portEntry());
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), bus_.address);
        QProcess ovfw;
        QElapsedTimer t;
        t.start();
        startOvfw(ovfw, {"upgrade", small_.path, "--yes", "--port", "1"}, env);
        double seconds = -1;
        while (seconds < 0 && t.elapsed() < kRunTimeoutMs) {
            QTest::qWait(kLookEveryMs);
            if (!meter.received().isEmpty())
                seconds = t.elapsed() / 1000.0;
        }
        if (!ovfw.waitForFinished(kRunTimeoutMs) || ovfw.exitCode() != 0)
            return -1;
        return seconds;
    }

    QTemporaryDir dir_;
    PrivateBus bus_;
    HexFiles::Made hex_;
    HexFiles::Made small_;
};

QTEST_MAIN(TestSleepInhibitor)
#include "tst_sleep_inhibitor.moc"
