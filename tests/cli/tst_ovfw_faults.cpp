// ovfw against meters and machines that misbehave: a read-only identify, a
// slow switch, a frozen meter, ports that cannot be opened, a log folder that
// takes no file, signals, and a narrow terminal.
#include "Capabilities.h"
#include "HexFiles.h"
#include "OvfwRig.h"
#include "TerminalCapture.h"
#include <QJsonArray>
#include "base/ShellQuote.h"
#include <QtTest>
#include <csignal>

namespace {
const QByteArray kSwitchCommand("\xC2\xD4");
const QByteArray kEndRecord(":00000001FF");

using Run = OvfwRun;
}

class TestOvfwFaults : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        small_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0212.OVH"), 8 * 1024);
        QVERIFY(!small_.path.isEmpty());
    }

    // A command that only looks never sends the boot loader's command, which
    // would switch a meter that merely answered badly.
    void identifyOnlyLooks_data()
    {
        QTest::addColumn<QStringList>("meter");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("switchSent");
        QTest::newRow("garbled") << QStringList{"--garble"} << QStringList{}
                                 << QStringLiteral("port  1: unreadable reply \"V,0V3A0123\\x07#4,1.02,2.10\\r\"")
                                 << false;
        QTest::newRow("late") << QStringList{"--late-reply", "800"} << QStringList{} << "port  1: no meter" << false;
        QTest::newRow("boot loader, probed") << QStringList{"--boot"} << QStringList{"--probe-boot"}
                                             << "port  1: boot loader" << true;
    }

    void identifyOnlyLooks()
    {
        QFETCH(QStringList, meter);
        QFETCH(QStringList, options);
        QFETCH(QString, shown);
        QFETCH(bool, switchSent);
        MeterEmulatorProcess m(QStringList{"--no-pacing"} + meter);
        const Run r = ovfw(QStringList{"identify", "--port", "1"} + options, m.portEntry());
        QVERIFY2(r.out.contains(shown), qPrintable(r.out + r.err));
        QCOMPARE(r.exitCode, switchSent ? 0 : 1);
        QCOMPARE(m.received().contains(kSwitchCommand), switchSent);
    }

    // A switch acknowledged only after its window: waited for once more, then
    // the transfer goes on; never acknowledged: the meter may be in its boot
    // loader (null), and the advice says how to finish it.
    void aSlowSwitchIsWaitedFor()
    {
        MeterEmulatorProcess slow({"--no-pacing", "--switch-delay", "400"});
        MeterEmulatorProcess mute({"--no-pacing", "--switch-delay", "9000"});
        const QString ports = slow.portEntry(1) + QLatin1Char(',') + mute.portEntry(2);
        const Run r = ovfw({"upgrade", small_.path, "--yes", "--json", "--retries", "1", "--port", "1", "--port", "2"},
                           ports);
        QCOMPARE(r.exitCode, 1);
        const QList<QJsonObject> results = events(r.out, QStringLiteral("result"));
        QCOMPARE(results.size(), 2);
        for (const QJsonObject &e : results) {
            const bool first = e.value("port").toInt() == 1;
            QCOMPARE(e.value("result").toString(), first ? QString("completed") : QString("failed"));
            QVERIFY2(first ? e.value("left_in_boot_loader") == QJsonValue(false) : e.value("left_in_boot_loader").isNull(),
                     qPrintable(r.out));
        }
        QCOMPARE(HexFiles::readAll(slow.imagePath()), small_.image);
        const QJsonObject summary = events(r.out, QStringLiteral("summary")).value(0);
        QCOMPARE(summary.value("may_be_in_boot_loader").toArray(), QJsonArray{2});

        MeterEmulatorProcess muteToo({"--no-pacing", "--switch-delay", "9000"});  // the first one did switch
        const Run plain = ovfw({"upgrade", small_.path, "--yes", "--retries", "0", "--port", "2"}, muteToo.portEntry(2));
        QVERIFY2(plain.out.contains(QStringLiteral("Port 2 (OV3A01234) may be in its boot loader; if so, finish it with:\n"
                                                   "  ovfw upgrade '%1' --boot --port 2")
                                        .arg(small_.path)),
                 qPrintable(plain.out));
    }

    // A meter that stops answering is not said to refuse.
    void aFrozenMeterIsNotAnswering()
    {
        MeterEmulatorProcess m({"--no-pacing"});
        QTemporaryDir logs;
        QProcess p;
        startOvfw(p, {"upgrade", small_.path, "--yes", "--json", "--retries", "1", "--port", "1", "--log", logs.path()},
                  m.portEntry());
        const auto meterPid = static_cast<pid_t>(m.process().processId());
        QVERIFY(meterPid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(m.received().count(':') > 20, 20000);
        ::kill(meterPid, SIGSTOP);
        QVERIFY(p.waitForFinished(kOvfwTimeoutMs));
        ::kill(meterPid, SIGCONT);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QJsonObject result = events(out, QStringLiteral("result")).value(0);
        // Unanswered, quiet through the settle, and unanswered again: the
        // meter is taken to have restarted and looked for in its boot
        // loader, which a frozen meter does not answer.
        QVERIFY2(result.value("message").toString().contains(QStringLiteral("fell silent at line")), qPrintable(out));
        QCOMPARE(events(out, QStringLiteral("retry")).value(0).value("kind").toString(), QString("line_not_answered"));
        QCOMPARE(events(out, QStringLiteral("meter_restarted")).size(), 1);
        const QStringList transcripts = QDir(logs.path()).entryList(QDir::Files);
        QCOMPARE(transcripts.size(), 1);
        const QByteArray transcript = HexFiles::readAll(logs.filePath(transcripts.first()));
        QVERIFY(transcript.contains("line_not_answered (attempt 1)"));
        QVERIFY(transcript.contains("fell silent at line"));
        QVERIFY(!transcript.contains("refused"));
    }

    // A port that does not open says why, in the words of `ovfw ports`.
    void openFailuresSayWhy_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("held");
        QTest::addColumn<QString>("why");
        QTest::newRow("not a serial device") << QStringLiteral("/dev/null") << false << "not a serial device";
        QTest::newRow("missing") << dir_.filePath(QStringLiteral("no-such-tty")) << false << "missing";
        QTest::newRow("held by another program") << QString() << true << "in use by another program";
    }

    void openFailuresSayWhy()
    {
        QFETCH(QString, device);
        QFETCH(bool, held);
        QFETCH(QString, why);
        MeterEmulatorProcess m({"--no-pacing"});
        const QString name = held ? m.device() : device;
        PortHolderProcess holder(held ? name : QStringLiteral("/dev/null"));
        QVERIFY(!held || holder.holding());
        const Run r = ovfw({"identify", "--port", "3"}, QStringLiteral("3=%1").arg(name));
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains(QStringLiteral("port  3: failed: port 3 (%1) could not be opened: %2").arg(name, why)),
                 qPrintable(r.out));
    }

    // One meter named twice, by whatever names, is a usage error: nothing
    // is sent to it.
    void oneMeterIsNamedOnce_data()
    {
        QTest::addColumn<QStringList>("arguments");  // DEV: the meter's device; LINK: a link to it
        QTest::addColumn<QString>("ports");          // OVFW_PORTS
        QTest::newRow("a device twice") << QStringList{"upgrade", "--device", "DEV", "--device", "DEV"} << QString();
        QTest::newRow("a link and its target") << QStringList{"upgrade", "--device", "LINK", "--device", "DEV"}
                                               << QString();
        QTest::newRow("a port and its device") << QStringList{"upgrade", "--port", "1", "--device", "DEV"} << "1=DEV";
        QTest::newRow("a port and a link") << QStringList{"upgrade", "--device", "LINK", "--port", "1"} << "1=DEV";
        QTest::newRow("two ports, identify") << QStringList{"identify", "--port", "1", "--port", "2"} << "1=DEV,2=LINK";
    }

    void oneMeterIsNamedOnce()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, ports);
        MeterEmulatorProcess m({"--no-pacing"});
        QTemporaryDir links;
        const QString link = links.filePath(QStringLiteral("meter"));
        QVERIFY(QFile::link(m.device(), link));
        for (QString &a : arguments)
            a = a == QLatin1String("DEV") ? m.device() : a == QLatin1String("LINK") ? link : a;
        if (arguments.first() == QLatin1String("upgrade"))
            arguments << small_.path << "--yes";
        ports.replace(QLatin1String("DEV"), m.device()).replace(QLatin1String("LINK"), link);
        const Run r = ovfw(arguments, ports);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("are one meter (%1)").arg(m.device())), qPrintable(r.err));
        QVERIFY(m.received().isEmpty());
    }

    // kill -9 mid-transfer leaves the driver's exclusive mode set on the
    // meter's pty, whose other end stays open. The next --boot clears it
    // where it may and finishes the meter, or says what to do.
    void aKilledRunLeavesNoStaleHold_data()
    {
        QTest::addColumn<bool>("sysAdmin");
        QTest::newRow("may pass the exclusive mode") << true;
        QTest::newRow("may not pass it") << false;
    }

    void aKilledRunLeavesNoStaleHold()
    {
        QFETCH(bool, sysAdmin);
        if (sysAdmin && !Capabilities::hasSysAdmin())
            QSKIP("this process may not pass the driver's exclusive mode (CAP_SYS_ADMIN)");
        QTemporaryDir state;
        MeterEmulatorProcess m({"--no-pacing", "--reply-delay", "20"});
        const QProcessEnvironment env = ovfwEnvironment(m.portEntry(), state.filePath(QStringLiteral("history.sqlite")));
        QProcess killed;
        startOvfw(killed, {"upgrade", small_.path, "--yes", "--port", "1"}, env);
        QTRY_VERIFY_WITH_TIMEOUT(m.received().count(':') > 5, 20000);
        killed.kill();  // SIGKILL
        QVERIFY(killed.waitForFinished());

        const QStringList args{"upgrade", small_.path, "--yes", "--boot", "--port", "1"};
        const QStringList command = sysAdmin ? QStringList{QStringLiteral(OVFW_PATH)} + args
                                             : Capabilities::withoutSysAdmin(QStringLiteral(OVFW_PATH), args);
        QProcess again;
        again.setProcessEnvironment(env);
        again.start(command.first(), command.mid(1));
        again.closeWriteChannel();
        const Run r = finishOvfw(again);
        if (sysAdmin) {
            QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
            QCOMPARE(HexFiles::readAll(m.imagePath()), small_.image);
        } else {
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.out.contains(QStringLiteral("port 1 (%1) could not be opened: left in exclusive mode by a program "
                                                   "that has ended; restart whatever holds its other end")
                                        .arg(m.device())),
                     qPrintable(r.out));
        }
    }

    // Refused before any meter is touched, as a folder that cannot be made is.
    void aLogFolderThatTakesNoFileIsRefused()
    {
        QTemporaryDir logs;
        QVERIFY(QFile::setPermissions(logs.path(), QFile::ReadOwner | QFile::ExeOwner));
        MeterEmulatorProcess m({"--no-pacing"});
        const Run r = ovfw({"upgrade", small_.path, "--yes", "--port", "1", "--log", logs.path()}, m.portEntry());
        QFile::setPermissions(logs.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("cannot write into the log folder")), qPrintable(r.err));
        QVERIFY(m.received().isEmpty());
    }

    // Each signal lets the line in flight be answered; the count of lines
    // acknowledged is the meter's, and JSON counts the meter interrupted, not
    // failed. A second signal ends ovfw at once, naming the meter that may be
    // in its boot loader (by its port, or its device) with a command that
    // pastes safely.
    void signalsStopTheRun_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("twice");
        QTest::addColumn<QString>("replyDelayMs");  // slow enough for the second to find ovfw running
        QTest::addColumn<bool>("json");
        QTest::addColumn<bool>("byDevice");  // the meter named by a link in a folder named to attack a shell
        QTest::newRow("SIGINT") << int(SIGINT) << false << "20" << false << false;
        QTest::newRow("SIGINT, JSON") << int(SIGINT) << false << "20" << true << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false << "20" << false << false;
        QTest::newRow("SIGTERM twice") << int(SIGTERM) << true << "250" << false << false;
        QTest::newRow("SIGTERM twice, by device") << int(SIGTERM) << true << "250" << false << true;
    }

    void signalsStopTheRun()
    {
        QFETCH(int, signalNumber);
        QFETCH(bool, twice);
        QFETCH(QString, replyDelayMs);
        QFETCH(bool, json);
        QFETCH(bool, byDevice);
        MeterEmulatorProcess m({"--no-pacing", "--reply-delay", replyDelayMs});
        const QString hostile = dir_.filePath(QStringLiteral("it's q$(touch PWNED)x"));
        QVERIFY(QDir().mkpath(hostile));
        const QString file = hostile + QStringLiteral("/OV3A_FW0212.OVH");
        QVERIFY(QFile::exists(file) || QFile::copy(small_.path, file));
        const QString link = hostile + QStringLiteral("/meter");
        QFile::remove(link);
        QVERIFY(QFile::link(m.device(), link));
        const QStringList meter = byDevice ? QStringList{"--device", link} : QStringList{"--port", "1"};
        QProcess p;
        startOvfw(p, QStringList{"upgrade", file, "--yes"} + meter + (json ? QStringList{"--json"} : QStringList{}),
                  m.portEntry());
        const auto pid = static_cast<pid_t>(p.processId());
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(m.received().count(':') > 3, 20000);
        if (twice)
            QVERIFY(signalTwiceInALine(pid, signalNumber, m));
        else
            ::kill(pid, signalNumber);
        QVERIFY(p.waitForFinished(kOvfwTimeoutMs));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (twice) {
            QCOMPARE(p.exitStatus(), QProcess::CrashExit);
            QVERIFY2(err.contains((byDevice ? link : QStringLiteral("Port 1")) +
                                  QStringLiteral(" may be in its boot loader; finish it with:\n")),
                     qPrintable(err));
            const PastedCommand pasted = pasteIntoShell(printedCommand(err));
            QVERIFY(pasted.madeFiles.isEmpty());
            QCOMPARE(pasted.arguments, QStringList({"upgrade", file, "--boot"}) + meter);
            return;
        }
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        if (json) {
            const QJsonObject summary = events(out, QStringLiteral("summary")).value(0);
            QCOMPARE(summary.value("interrupted_meters").toInt(-1), 1);
            QCOMPARE(summary.value("failed").toInt(-1), 0);
            return;
        }
        const int acknowledged = static_cast<int>(m.sent().count("PASS\r")) - 1;  // less the switch
        const QRegularExpression row(QStringLiteral(" stopped +%1/%2 ").arg(acknowledged).arg(small_.lines));
        QVERIFY2(row.match(out).hasMatch(), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("stopped after line %1").arg(acknowledged)), qPrintable(out));
        QVERIFY(out.contains(QStringLiteral("--boot --port 1")));
    }

    // Meters named both ways, all in their boot loader when a second signal
    // comes: its lines name every one, each with the option that finishes it.
    void aSecondSignalNamesEveryMeter()
    {
        MeterEmulators meters;
        for (int i = 0; i < 4; ++i)
            meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing", "--reply-delay", "250"}));
        const QStringList options{"--port", "3", "--device", meters[1]->device(),
                                  "--port", "12", "--device", meters[3]->device()};
        QProcess p;
        startOvfw(p, QStringList{"upgrade", small_.path, "--yes"} + options,
                  meters[0]->portEntry(3) + QLatin1Char(',') + meters[2]->portEntry(12));
        for (const auto &m : meters)
            QTRY_VERIFY_WITH_TIMEOUT(m->received().count(':') > 2, 20000);
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QTest::qWait(50);  // two at once would be one
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(kOvfwTimeoutMs));
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        const QStringList heads{"Port 3", meters[1]->device(), "Port 12", meters[3]->device()};
        for (int i = 0; i < 4; ++i) {
            const QString note = QStringLiteral("%1 may be in its boot loader; finish it with:\n  ovfw upgrade %2 --boot %3 %4\n")
                                     .arg(heads[i], ShellQuote::path(small_.path), options[2 * i],
                                          i % 2 ? ShellQuote::path(options[2 * i + 1]) : options[2 * i + 1]);
            QVERIFY2(err.contains(note), qPrintable(err));
        }
    }

    // A stop that comes while the end record is in flight is too late to
    // matter: every meter completed, so the run succeeded.
    void aStopDuringTheEndRecordStillCompletes()
    {
        const auto tiny = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0213.OVH"), 128);
        MeterEmulatorProcess m({"--no-pacing", "--reply-delay", "250"});
        QProcess p;
        startOvfw(p, {"upgrade", tiny.path, "--yes", "--port", "1"}, m.portEntry());
        const auto pid = static_cast<pid_t>(p.processId());
        QVERIFY(pid > 0);
        QTRY_VERIFY_WITH_TIMEOUT(m.received().contains(kEndRecord), 20000);
        ::kill(pid, SIGINT);
        QVERIFY(p.waitForFinished(kOvfwTimeoutMs));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral(" completed ")), qPrintable(out));
        QCOMPARE(p.exitCode(), 0);
    }

    // On a terminal each live line fits its width, as it is at each redraw.
    void liveLinesFitTheTerminal()
    {
        constexpr int kWide = 40, kNarrow = 30;
        TerminalCapture terminal(kWide);
        QVERIFY(terminal.isOpen());
        MeterEmulatorProcess a({"--no-pacing", "--reply-delay", "10"});
        MeterEmulatorProcess b({"--no-pacing", "--reply-delay", "10"});
        QProcess p;
        terminal.attach(p);
        startOvfw(p, {"upgrade", small_.path, "--yes", "--port", "1", "--port", "2"},
                  a.portEntry(1) + QLatin1Char(',') + b.portEntry(2));
        QTRY_VERIFY_WITH_TIMEOUT((terminal.drain(), a.received().count(':') > 30), 20000);
        terminal.resize(kNarrow);
        const qsizetype resizedAt = terminal.drain().size();
        QTRY_VERIFY_WITH_TIMEOUT((terminal.drain(), p.state() == QProcess::NotRunning), kOvfwTimeoutMs);
        terminal.drain();
        terminal.close();
        QCOMPARE(p.exitCode(), 0);

        int lines = 0, narrowLines = 0;
        for (const TerminalCapture::Line &line : terminal.redrawnLines()) {
            const int width = line.at > resizedAt + 300 ? kNarrow : kWide;  // a redraw or two after the resize
            QVERIFY2(line.text.size() < width, line.text.constData());
            ++lines;
            narrowLines += width == kNarrow;
        }
        QVERIFY(lines > 4 && narrowLines > 0);
    }

    // Success in green and failure in red, on a terminal only, and never
    // when NO_COLOR asks for none.
    void colourOnATerminalOnly_data()
    {
        QTest::addColumn<bool>("noColor");
        QTest::newRow("a terminal") << false;
        QTest::newRow("a terminal, NO_COLOR") << true;
    }
    void colourOnATerminalOnly()
    {
        QFETCH(bool, noColor);
        TerminalCapture terminal(120);
        QVERIFY(terminal.isOpen());
        MeterEmulatorProcess good({"--no-pacing"});
        MeterEmulatorProcess refusing({"--no-pacing", "--refuse-line", "3", "--refuse-count", "99"});
        QProcessEnvironment env = ovfwEnvironment(good.portEntry(1) + QLatin1Char(',') + refusing.portEntry(2));
        if (noColor)
            env.insert("NO_COLOR", "1");
        QProcess p;
        terminal.attach(p);
        startOvfw(p, {"upgrade", small_.path, "--yes", "--port", "1", "--port", "2", "--retries", "0"}, env);
        QTRY_VERIFY_WITH_TIMEOUT((terminal.drain(), p.state() == QProcess::NotRunning), kOvfwTimeoutMs);
        const QByteArray shown = terminal.drain();
        const bool green = shown.contains("\x1b[32mcompleted"), red = shown.contains("\x1b[31mfailed");
        QVERIFY2(green == !noColor && red == !noColor, shown.constData());
        QCOMPARE(shown.contains("\x1b[3"), !noColor);
    }

private:
    QTemporaryDir dir_;
    HexFiles::Made small_;
};

QTEST_GUILESS_MAIN(TestOvfwFaults)
#include "tst_ovfw_faults.moc"
