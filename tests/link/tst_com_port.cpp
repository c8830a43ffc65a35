#include "Capabilities.h"
#include "MeterEmulatorProcess.h"
#include "LinkRig.h"
#include "base/FwUpErrors.h"
#include "link/PortWait.h"
#include "base/MonotonicClock.h"
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <csignal>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {
// Timer resolution and scheduling on a loaded two-core machine.
constexpr double kWaitToleranceSeconds = 0.03;

QByteArray readReply(CommPort &port, double timeoutSeconds)
{
    QByteArray reply;
    const double end = MonotonicClock::now() + timeoutSeconds;
    while (!reply.endsWith('\r') && MonotonicClock::now() < end) {
        if (port.inBufferCount() > 0)
            reply += port.input();
        else
            sleepUntilInput(end, port);
    }
    return reply;
}

constexpr int kHolderTimeoutMs = 5000;

// A second program holding a device: this tool's own opening, or QSerialPort
// alone, as another terminal program would.
enum class Opener { ThisTool, Terminal };

class Holder {
public:
    Holder(const QString &device, Opener opener)
    {
        QStringList args;
        if (opener == Opener::Terminal)
            args << QStringLiteral("--plain");
        process_.start(QStringLiteral(OV_PORT_HOLDER_PATH), args << device);
        if (process_.waitForStarted(kHolderTimeoutMs) && process_.waitForReadyRead(kHolderTimeoutMs))
            holding_ = process_.readLine().trimmed() == "holding";
    }
    ~Holder()
    {
        process_.closeWriteChannel();  // the holder ends when its input closes
        if (!process_.waitForFinished(kHolderTimeoutMs))
            process_.kill();
        process_.waitForFinished(kHolderTimeoutMs);
    }
    bool holding() const { return holding_; }

private:
    QProcess process_;
    bool holding_ = false;
};

// This tool's opening of a device in another process, with or without the
// right to pass the driver's exclusive mode: "holding", or "refused: WHY".
QString openedElsewhere(const QString &device, bool sysAdmin)
{
    const QStringList command = sysAdmin ? QStringList{QStringLiteral(OV_PORT_HOLDER_PATH), device}
                                         : Capabilities::withoutSysAdmin(QStringLiteral(OV_PORT_HOLDER_PATH), {device});
    QProcess p;
    p.start(command.first(), command.mid(1));
    p.closeWriteChannel();
    p.waitForFinished(kHolderTimeoutMs);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Whether the driver's exclusive mode is set on a device.
bool exclusiveModeSet(const QString &device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == EBUSY;
    int exclusive = 0;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    return exclusive != 0;
}

// A meter on its pseudo-terminal, also reached through a symbolic link, as a
// /dev/serial/by-id name reaches an adapter.
struct LinkedMeter {
    MeterEmulatorProcess meter;
    QTemporaryDir dir;
    QString link = dir.filePath(QStringLiteral("by-id-meter"));
    bool ready() { return meter.started() && QFile::link(meter.device(), link); }
    QString name(bool viaLink) const { return viaLink ? link : meter.device(); }
};

FwUpErrorNumber openingError(QtCommPort &port)
{
    try {
        port.setCommPort(1);
        port.setPortOpen(true);
    } catch (const FwUpError &e) {
        return e.number();
    }
    return FwUpErrorNumber{};
}
}

Q_DECLARE_METATYPE(Opener)
Q_DECLARE_METATYPE(PortState)
Q_DECLARE_METATYPE(FwUpErrorNumber)

class TestComPort : public QObject {
    Q_OBJECT
private slots:
    void opensAtMeterSettingsAndTalks()
    {
        MeterEmulatorProcess meter;
        QVERIFY(meter.started());
        // The line settings as the driver holds them, read through a
        // descriptor of our own opened first (the open port admits no other).
        const int driver = ::open(QFile::encodeName(meter.device()).constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY(driver >= 0);
        const auto closeDriver = qScopeGuard([driver] { ::close(driver); });
        LinkRig rig(meter.portEntry(2));
        rig.meter.Port_Number = 2;
        rig.link.Com_Open();
        QVERIFY(rig.comm.portOpen());
        QCOMPARE(rig.comm.commPort(), 2);
        termios line{};
        QCOMPARE(::tcgetattr(driver, &line), 0);
        QCOMPARE(::cfgetispeed(&line), speed_t(B9600));
        QCOMPARE(::cfgetospeed(&line), speed_t(B9600));
        // A pseudo-terminal keeps 8 data bits and no parity whatever it is
        // told, so those two it cannot tell; odd, mark or space parity it
        // keeps, as it keeps two stop bits and RTS/CTS.
        QCOMPARE(line.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), tcflag_t(0));
        QCOMPARE(line.c_iflag & (IXON | IXOFF | IXANY), tcflag_t(0));  // no XON/XOFF
        // Raw: no line editing, echo or signals, nothing translated either way.
        QCOMPARE(line.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
        QCOMPARE(line.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | BRKINT), tcflag_t(0));
        QCOMPARE(line.c_oflag & OPOST, tcflag_t(0));

        rig.comm.output("V\r");
        // One character per read, as the meter link expects.
        QTRY_VERIFY(rig.comm.inBufferCount() > 1);
        QCOMPARE(rig.comm.input().size(), 1);
        const QByteArray rest = readReply(rig.comm, 1.0);
        QCOMPARE(rest, QByteArray(",OV3A01234,1.02,2.10\r"));

        // Two replies waiting: one read takes the first up to its CR, and
        // the second stays for the next.
        const QByteArray reply("V,OV3A01234,1.02,2.10\r");
        rig.comm.output("V\rV\r");
        QTRY_VERIFY(rig.comm.inBufferCount() >= 2 * reply.size());
        QCOMPARE(rig.comm.inputThrough('\r'), reply);
        QCOMPARE(rig.comm.inputThrough('\r'), reply);
        // Input wakes a wait once the characters asked for are waiting: the
        // line discipline's VMIN, and every character again afterwards.
        rig.comm.setInputWakeChars(5);
        QCOMPARE(::tcgetattr(driver, &line), 0);
        QCOMPARE(line.c_cc[VMIN], cc_t(5));
        rig.comm.setInputWakeChars(1);
        QCOMPARE(::tcgetattr(driver, &line), 0);
        QCOMPARE(line.c_cc[VMIN], cc_t(1));

        rig.link.Com_Close();
        QVERIFY(!rig.comm.portOpen());
        rig.link.Com_Close();  // closing a closed port is harmless
        QVERIFY(rig.prompts.problems().isEmpty());
    }

    void openIsANoOpWhenOpenOrWithoutPort()
    {
        MeterEmulatorProcess a, b;
        LinkRig rig(QStringLiteral("2=%1,5=%2").arg(a.device(), b.device()));
        rig.link.Com_Open();  // Port_Number 0: nothing, no message
        QVERIFY(!rig.comm.portOpen());
        rig.meter.Port_Number = 2;
        rig.link.Com_Open();
        rig.meter.Port_Number = 5;
        rig.link.Com_Open();  // still on port 2
        QVERIFY(rig.comm.portOpen());
        QCOMPARE(rig.comm.commPort(), 2);
        QVERIFY(rig.prompts.problems().isEmpty());
        QVERIFY(!rig.events.heard.contains("quit"));
    }

    void failedOpenReportsOnceAndRequestsQuit()
    {
        LinkRig rig(QStringLiteral("9=/nonexistent/tty"));
        rig.prompts.expect(QStringLiteral("Error Opening Comm3:9600,n,8,1"), 16,
                           QStringLiteral("Open Comms Port"), MsgAnswer::OK);
        rig.meter.Port_Number = 3;  // not mapped at all
        rig.link.Com_Open();
        rig.prompts.expect(QStringLiteral("Error Opening Comm9:9600,n,8,1"), 16,
                           QStringLiteral("Open Comms Port"), MsgAnswer::OK);
        rig.meter.Port_Number = 9;  // mapped to a device that is not there
        rig.link.Com_Open();
        QCOMPARE(rig.prompts.problems(), QStringList());
        QCOMPARE(rig.prompts.shown().size(), 2);
        QVERIFY(rig.events.heard.contains("quit"));
        QCOMPARE(rig.events.heard, (QStringList{"quit", "quit"}));
        QVERIFY(!rig.comm.portOpen());
        // Later operations on the closed port raise the port-not-open error.
        try {
            rig.comm.output("H\r");
            QFAIL("output on a closed port did not raise");
        } catch (const FwUpError &e) {
            QCOMPARE(e.number(), FwUpErrorNumber::CommPortNotOpen);
        }
        QVERIFY_THROWS_EXCEPTION(FwUpError, rig.comm.inBufferCount());
        QVERIFY_THROWS_EXCEPTION(FwUpError, rig.comm.input());
    }

    void oneMeterHasOneHolderWhateverItsName_data()
    {
        QTest::addColumn<Opener>("other");
        QTest::addColumn<bool>("otherViaLink");
        QTest::newRow("tool holds the device, we open the link") << Opener::ThisTool << false;
        QTest::newRow("tool holds the link, we open the device") << Opener::ThisTool << true;
        QTest::newRow("terminal holds the device, we open the link") << Opener::Terminal << false;
        QTest::newRow("terminal holds the link, we open the device") << Opener::Terminal << true;
    }

    void oneMeterHasOneHolderWhateverItsName()
    {
        QFETCH(Opener, other);
        QFETCH(bool, otherViaLink);
        LinkedMeter m;
        QVERIFY(m.ready());
        QtCommPort port(PortMap::fromOverride(QStringLiteral("1=") + m.name(!otherViaLink)));
        {
            Holder holder(m.name(otherViaLink), other);
            QVERIFY(holder.holding());
            QCOMPARE(openingError(port), FwUpErrorNumber::CommPortInUse);
            QVERIFY(!port.portOpen());
        }
        // Once the other program has let go, the meter is ours.
        QCOMPARE(openingError(port), FwUpErrorNumber{});
        QVERIFY(port.portOpen());
    }

    void aSecondOpenerIsRefusedUntilWeClose_data()
    {
        QTest::addColumn<Opener>("other");
        QTest::addColumn<bool>("otherViaLink");
        QTest::newRow("tool on the device, we hold the link") << Opener::ThisTool << false;
        QTest::newRow("tool on the link, we hold the device") << Opener::ThisTool << true;
        QTest::newRow("terminal on the device, we hold the link") << Opener::Terminal << false;
        // A terminal program that neither locks by the device's own name nor
        // takes a file lock reaches the device through a link only where the
        // driver's exclusive mode binds it: not as root.
    }

    void aSecondOpenerIsRefusedUntilWeClose()
    {
        QFETCH(Opener, other);
        QFETCH(bool, otherViaLink);
        LinkedMeter m;
        QVERIFY(m.ready());
        QtCommPort port(PortMap::fromOverride(QStringLiteral("1=") + m.name(!otherViaLink)));
        QCOMPARE(openingError(port), FwUpErrorNumber{});
        QVERIFY(!Holder(m.name(otherViaLink), other).holding());
        port.setPortOpen(false);
        QVERIFY(Holder(m.name(otherViaLink), other).holding());
    }

    void portStateSaysWhyAPortCannotBeUsed_data()
    {
        // {pty} the meter's device, {link} a link to it, {bare} its name
        // under /dev, {dir} a folder of the test's own.
        QTest::addColumn<QString>("device");
        QTest::addColumn<PortState>("expected");
        QTest::addColumn<FwUpErrorNumber>("onOpening");
        QTest::newRow("pty") << "{pty}" << PortState::Present << FwUpErrorNumber{};
        QTest::newRow("link to it") << "{link}" << PortState::Present << FwUpErrorNumber{};
        QTest::newRow("bare name under /dev") << "{bare}" << PortState::Present << FwUpErrorNumber{};
        QTest::newRow("nothing there") << "{dir}/gone" << PortState::Missing << FwUpErrorNumber::CommPortMissing;
        QTest::newRow("link to nothing") << "{dir}/dangling" << PortState::Missing << FwUpErrorNumber::CommPortMissing;
        QTest::newRow("unmapped port") << "" << PortState::Missing << FwUpErrorNumber::CommPortMissing;
        QTest::newRow("regular file") << "{dir}/regular" << PortState::NotSerial << FwUpErrorNumber::CommPortOpenFailed;
        QTest::newRow("folder") << "{dir}" << PortState::NotSerial << FwUpErrorNumber::CommPortOpenFailed;
        QTest::newRow("no terminal") << "/dev/null" << PortState::NotSerial << FwUpErrorNumber::CommPortOpenFailed;
        QTest::newRow("held by the tool") << "{held}" << PortState::InUse << FwUpErrorNumber::CommPortInUse;
        QTest::newRow("file-locked by a program") << "{flocked}" << PortState::InUse << FwUpErrorNumber::CommPortInUse;
    }

    void portStateSaysWhyAPortCannotBeUsed()
    {
        QFETCH(QString, device);
        QFETCH(PortState, expected);
        QFETCH(FwUpErrorNumber, onOpening);
        LinkedMeter m;
        QVERIFY(m.ready());
        QFile regular(m.dir.filePath(QStringLiteral("regular")));
        QVERIFY(regular.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(m.dir.filePath(QStringLiteral("gone")), m.dir.filePath(QStringLiteral("dangling"))));
        std::unique_ptr<Holder> holder;
        if (device == QLatin1String("{held}")) {
            holder = std::make_unique<Holder>(m.meter.device(), Opener::ThisTool);
            QVERIFY(holder->holding());
        }
        // A program that guards the device with flock alone, as some terminal
        // programs do.
        const int flocked = device == QLatin1String("{flocked}")
                                ? ::open(QFile::encodeName(m.meter.device()).constData(), O_RDWR | O_NOCTTY)
                                : -1;
        const auto unlock = qScopeGuard([flocked] {
            if (flocked >= 0)
                ::close(flocked);
        });
        QVERIFY(flocked < 0 || ::flock(flocked, LOCK_EX | LOCK_NB) == 0);
        device.replace(QLatin1String("{pty}"), m.meter.device())
            .replace(QLatin1String("{held}"), m.meter.device())
            .replace(QLatin1String("{flocked}"), m.meter.device())
            .replace(QLatin1String("{link}"), m.link)
            .replace(QLatin1String("{bare}"), m.meter.device().mid(QStringLiteral("/dev/").size()))
            .replace(QLatin1String("{dir}"), m.dir.path());

        QCOMPARE(portState(device), expected);
        // Opening finds the same, and the look before it held nothing.
        QtCommPort port(PortMap::fromOverride(QStringLiteral("1=") + device));
        QCOMPARE(openingError(port), onOpening);
        QCOMPARE(port.openState(), expected);
        QCOMPARE(port.portOpen(), expected == PortState::Present);
    }

    // A holder killed outright leaves the driver's exclusive mode set while
    // the pty's other end stays open. It is cleared only by an opener that
    // may pass it, when nobody holds the file lock and the lock file names
    // a process that has ended; otherwise the opener is told what to do.
    void aStaleExclusiveModeIsCleared_data()
    {
        QTest::addColumn<Opener>("before");  // the program that held the device
        QTest::addColumn<bool>("killed");
        QTest::addColumn<bool>("fileLocked");  // a file lock on the device still held
        QTest::addColumn<bool>("sysAdmin");
        QTest::addColumn<QString>("expected");
        const QString stale = QStringLiteral(
            "refused: left in exclusive mode by a program that has ended; restart whatever holds its other end");
        const QString inUse = QStringLiteral("refused: in use by another program");
        QTest::newRow("killed, may pass the mode") << Opener::ThisTool << true << false << true << "holding";
        QTest::newRow("killed, may not pass it") << Opener::ThisTool << true << false << false << stale;
        QTest::newRow("killed, a file lock still held") << Opener::ThisTool << true << true << true << inUse;
        QTest::newRow("a terminal program still holds it, may pass") << Opener::Terminal << false << false << true << inUse;
        QTest::newRow("a terminal program still holds it") << Opener::Terminal << false << false << false << inUse;
    }

    void aStaleExclusiveModeIsCleared()
    {
        QFETCH(Opener, before);
        QFETCH(bool, killed);
        QFETCH(bool, fileLocked);
        QFETCH(bool, sysAdmin);
        QFETCH(QString, expected);
        if (sysAdmin && !Capabilities::hasSysAdmin())
            QSKIP("this process may not pass the driver's exclusive mode (CAP_SYS_ADMIN)");
        MeterEmulatorProcess meter;
        QVERIFY(meter.started());
        QStringList args;
        if (before == Opener::Terminal)
            args << QStringLiteral("--plain");
        QProcess holder;
        holder.start(QStringLiteral(OV_PORT_HOLDER_PATH), args << meter.device());
        QVERIFY(holder.waitForReadyRead(kHolderTimeoutMs) && holder.readLine().trimmed() == "holding");
        if (killed) {
            holder.kill();  // SIGKILL: nothing is let go but what the kernel lets go
            QVERIFY(holder.waitForFinished(kHolderTimeoutMs));
        }
        const int locker = fileLocked ? ::open(QFile::encodeName(meter.device()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)
                                      : -1;
        const auto unlock = qScopeGuard([locker] {
            if (locker >= 0)
                ::close(locker);
        });
        QVERIFY(!fileLocked || (locker >= 0 && ::flock(locker, LOCK_EX | LOCK_NB) == 0));

        QCOMPARE(openedElsewhere(meter.device(), sysAdmin), expected);
        // Cleared for good, or left as it was.
        QCOMPARE(exclusiveModeSet(meter.device()), expected != QLatin1String("holding"));
        holder.closeWriteChannel();
        holder.waitForFinished(kHolderTimeoutMs);
    }

    void waitsLastTheirNominalLength_data()
    {
        QTest::addColumn<int>("seconds");
        QTest::addColumn<double>("ticks");
        QTest::addColumn<double>("expected");
        QTest::newRow("SDelay 1") << 1 << 0.0 << 0.972;
        QTest::newRow("TDelay 10") << 0 << 10.0 << 0.54;
        QTest::newRow("TDelay 2") << 0 << 2.0 << 0.108;
    }

    void waitsLastTheirNominalLength()
    {
        QFETCH(int, seconds);
        QFETCH(double, ticks);
        QFETCH(double, expected);
        LinkRig rig{QString()};
        const double t0 = MonotonicClock::now();
        if (seconds)
            rig.link.SDelay(static_cast<std::int16_t>(seconds));
        else
            rig.link.TDelay(ticks);
        const double elapsed = MonotonicClock::now() - t0;
        QVERIFY2(elapsed >= expected && elapsed < expected + kWaitToleranceSeconds,
                 qPrintable(QStringLiteral("waited %1 s").arg(elapsed)));
    }

    void zeroTicksYieldsOnceAndReturns()
    {
        LinkRig rig{QString()};
        bool served = false;
        QMetaObject::invokeMethod(this, [&] { served = true; }, Qt::QueuedConnection);
        const double t0 = MonotonicClock::now();
        rig.link.TDelay(0);
        QVERIFY(served);
        QVERIFY(MonotonicClock::now() - t0 < kWaitToleranceSeconds);
    }

    void handlersRunDuringAWait()
    {
        LinkRig rig{QString()};
        double firedAt = 0;
        const double t0 = MonotonicClock::now();
        QTimer::singleShot(100, this, [&] { firedAt = MonotonicClock::now() - t0; });
        rig.link.TDelay(10);
        QVERIFY(firedAt > 0.09 && firedAt < 0.2);
    }

    void lostLineClosesThePort()
    {
        auto meter = std::make_unique<MeterEmulatorProcess>(QStringList{"--boot", "--hangup-after", "1"});
        LinkRig rig(meter->portEntry());
        rig.meter.Port_Number = 1;
        rig.link.Com_Open();
        rig.comm.output(":00000001FF\r");
        QCOMPARE(readReply(rig.comm, 1.0), QByteArray("PASS\r"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.comm.portOpen(), 3000);
        QVERIFY_THROWS_EXCEPTION(FwUpError, rig.comm.output("H\r"));
    }
};

QTEST_GUILESS_MAIN(TestComPort)
#include "tst_com_port.moc"
