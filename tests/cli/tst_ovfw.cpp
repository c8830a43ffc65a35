// ovfw as a bench would run it: a child process, meters on emulators.
#include "HexFiles.h"
#include "OvfwRig.h"
#include <sys/resource.h>
#include <sys/stat.h>
#include <cstdio>
#include <QCryptographicHash>
#include <QtTest>
#include <csignal>

namespace {
constexpr int kFileBytes = 32 * 1024;
constexpr int kMeters = 4;
constexpr int kRefusedLine = 5;
constexpr int kRetries = 2;
constexpr double kBaud = 9600;
constexpr double kBitsPerChar = 10;
// A soft limit on open files that four meters with transcripts pass.
constexpr rlim_t kLowOpenFiles = 24;

using Run = OvfwRun;

MeterEmulators startMeters(int count, int refusing = -1)
{
    MeterEmulators meters;
    for (int i = 0; i < count; ++i) {
        QStringList args{QStringLiteral("--no-pacing")};
        if (i == refusing)
            args << QStringLiteral("--refuse-line") << QString::number(kRefusedLine);
        meters.push_back(std::make_unique<MeterEmulatorProcess>(args));
    }
    return meters;
}
}

class TestOvfw : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        made_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0210.OVH"), kFileBytes);
        QVERIFY2(!made_.path.isEmpty(), "srec_cat made no file");
    }

    void checksAGoodFile()
    {
        const Run r = ovfw({QStringLiteral("check"), made_.path}, {});
        QCOMPARE(r.exitCode, 0);
        QVERIFY2(r.out.contains(QStringLiteral("lines       %1").arg(made_.lines)), qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("data bytes  %1").arg(kFileBytes)));
        QVERIFY(r.out.contains(QStringLiteral("model       3A")));
        QVERIFY(r.out.contains(QStringLiteral("version     2.10\n")));
    }

    void upgradesFourMetersAtOnce()
    {
        const MeterEmulators meters = startMeters(kMeters);
        for (const auto &m : meters)
            QVERIFY(m->started());
        QTemporaryDir logs;
        QElapsedTimer clock;
        clock.start();
        const Run r = ovfw(QStringList{QStringLiteral("upgrade"), made_.path, QStringLiteral("--yes"),
                                       QStringLiteral("--json"), QStringLiteral("--log"), logs.path()} +
                               portArgs(kMeters),
                           portList(meters));
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        // Meters that answer at once are not held to the pace of the wire
        // the port is set to, whose time for the file is far longer.
        const double wireSeconds = QFileInfo(made_.path).size() * kBitsPerChar / kBaud;
        QVERIFY2(clock.elapsed() / 1000.0 < wireSeconds / 2,
                 qPrintable(QStringLiteral("%1 s for %2 s on the wire").arg(clock.elapsed() / 1000.0).arg(wireSeconds)));
        for (const auto &m : meters)
            QCOMPARE(HexFiles::readAll(m->imagePath()), made_.image);

        const QList<QJsonObject> events = jsonLines(r.out);
        QVERIFY2(!events.isEmpty(), qPrintable(r.out));
        QCOMPARE(events.first().value("event").toString(), QString("check"));
        QCOMPARE(events.first().value("ok").toBool(), true);
        int results = 0;
        for (const QJsonObject &e : events) {
            if (e.value("event").toString() != QLatin1String("result"))
                continue;
            ++results;
            QCOMPARE(e.value("result").toString(), QString("completed"));
            QCOMPARE(e.value("serial").toString(), QString("OV3A01234"));
            QCOMPARE(e.value("lines").toInt(), made_.lines);
            QCOMPARE(e.value("left_in_boot_loader").toBool(), false);
        }
        QCOMPARE(results, kMeters);
        const QJsonObject summary = events.last();
        QCOMPARE(summary.value("event").toString(), QString("summary"));
        QCOMPARE(summary.value("completed").toInt(), kMeters);
        QCOMPARE(summary.value("exit_status").toInt(), 0);
        QCOMPARE(QDir(logs.path()).entryList(QDir::Files).size(), kMeters);
        const QStringList first = QDir(logs.path()).entryList({"port1-OV3A01234-*.log"});
        QCOMPARE(first.size(), 1);
        QVERIFY2(QRegularExpression("^port1-OV3A01234-\\d{8}T\\d{6}\\.log$").match(first.first()).hasMatch(),
                 qPrintable(first.first()));
        // It says which tool, when, and which file, by its digest.
        const QByteArray transcript = HexFiles::readAll(logs.filePath(first.first()));
        QVERIFY2(transcript.left(120).contains(" -- ovfw 1."), transcript.left(120).constData());
        const QByteArray digest =
            QCryptographicHash::hash(HexFiles::readAll(made_.path), QCryptographicHash::Sha256).toHex();
        QVERIFY(transcript.contains(", sha256 " + digest));
    }

    // A bench of many meters passes the usual soft limit of open files:
    // ovfw takes what the hard limit allows before it opens anything.
    void aLowOpenFileLimitIsRaised()
    {
        const MeterEmulators meters = startMeters(kMeters);
        for (const auto &m : meters)
            QVERIFY(m->started());
        QTemporaryDir logs;
        QProcess p;
        p.setChildProcessModifier([] {
            rlimit files{};
            ::getrlimit(RLIMIT_NOFILE, &files);
            files.rlim_cur = kLowOpenFiles;
            ::setrlimit(RLIMIT_NOFILE, &files);
        });
        startOvfw(p,
                  QStringList{QStringLiteral("upgrade"), made_.path, QStringLiteral("--yes"), QStringLiteral("--log"),
                              logs.path()} +
                      portArgs(kMeters),
                  portList(meters));
        const Run r = finishOvfw(p);
        QVERIFY2(r.exitCode == 0, qPrintable(r.out + r.err));
        for (const auto &m : meters)
            QCOMPARE(HexFiles::readAll(m->imagePath()), made_.image);
    }

    void aRefusingMeterFailsAlone()
    {
        const int refusing = 2;  // port 3
        const MeterEmulators meters = startMeters(kMeters, refusing);
        const Run r = ovfw(QStringList{QStringLiteral("upgrade"), made_.path, QStringLiteral("--yes"),
                                       QStringLiteral("--retries"), QString::number(kRetries)} +
                               portArgs(kMeters),
                           portList(meters));
        QVERIFY2(r.exitCode == 1, qPrintable(r.out + r.err));
        for (int i = 0; i < kMeters; ++i)
            if (i != refusing)
                QCOMPARE(HexFiles::readAll(meters[i]->imagePath()), made_.image);
        QVERIFY(!QFile::exists(meters[refusing]->imagePath()));
        // The refused line went out once and then once per retry.
        const QByteArray line5 = HexFiles::readAll(made_.path).split('\n').at(kRefusedLine - 1).trimmed() + '\r';
        QCOMPARE(meters[refusing]->received().count(line5), kRetries + 1);

        const QRegularExpression failed(
            QStringLiteral("^\\s+3\\s+OV3A01234\\s+failed\\s+%1/%2\\s.*\\s%3  line %4 refused %5 times$")
                .arg(kRefusedLine - 1)
                .arg(made_.lines)
                .arg(kRetries)
                .arg(kRefusedLine)
                .arg(kRetries + 1),
            QRegularExpression::MultilineOption);
        QVERIFY2(failed.match(r.out).hasMatch(), qPrintable(r.out));
        QCOMPARE(r.out.count(QStringLiteral(" completed ")), kMeters - 1);
        QVERIFY2(r.out.contains(QStringLiteral("--boot --port 3")), qPrintable(r.out));
    }

    void aBadFileTouchesNoMeter()
    {
        QByteArray text = HexFiles::readAll(made_.path);
        const int at = text.indexOf("\r\n", text.size() / 2) - 1;  // a checksum digit mid-file
        text[at] = text[at] == '0' ? '1' : '0';
        const QString bad = HexFiles::write(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), text);
        const MeterEmulators meters = startMeters(2);
        const Run r = ovfw(QStringList{QStringLiteral("upgrade"), bad, QStringLiteral("--yes")} + portArgs(2),
                           portList(meters));
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(QStringLiteral("checksum is")), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("line %1:").arg(text.left(at).count('\n') + 1)), qPrintable(r.err));
        for (const auto &m : meters)
            QVERIFY2(m->received().isEmpty(), m->received().constData());

        const Run check = ovfw({QStringLiteral("check"), bad}, {});
        QCOMPARE(check.exitCode, 2);
    }

    void refusesWithoutConfirmationOrPorts()
    {
        const MeterEmulators meters = startMeters(1);
        const Run noYes = ovfw({QStringLiteral("upgrade"), made_.path, QStringLiteral("--port"), "1"}, portList(meters));
        QCOMPARE(noYes.exitCode, 2);
        QVERIFY(noYes.err.contains(QStringLiteral("--yes")));
        QVERIFY(meters[0]->received().isEmpty());
        QCOMPARE(ovfw({QStringLiteral("upgrade"), made_.path, QStringLiteral("--yes")}, {}).exitCode, 2);
        QCOMPARE(ovfw({QStringLiteral("upgrade"), made_.path, "--yes", "--port", "17"}, {}).exitCode, 2);
        QCOMPARE(ovfw({QStringLiteral("frobnicate")}, {}).exitCode, 2);
        QCOMPARE(ovfw({QStringLiteral("--help")}, {}).exitCode, 0);
    }

    // Names outside the convention are checked with a warning and no
    // version; names that are not valid UTF-8 open as they are; a FIFO and a
    // process substitution are read once, before any meter.
    void oddNamesAndPipes()
    {
        const QByteArray text = HexFiles::readAll(made_.path);
        const struct {
            QByteArray rawName;
            bool warned;
        } cases[] = {{"OV3A_FW2.OVH", true}, {"OV3A_FW02\xE9.OVH", true}, {"ov3a_fw\xFF" "210.ovh", true},
                     {"ov3a_fw0210.ovh", false}};
        for (const auto &c : cases) {
            const QByteArray path = QFile::encodeName(dir_.path()) + '/' + c.rawName;
            FILE *f = std::fopen(path.constData(), "wb");
            QVERIFY(f && std::fwrite(text.constData(), 1, text.size(), f) == std::size_t(text.size()));
            std::fclose(f);
            // Through the shell's printf (octal escapes), so the name
            // reaches ovfw as raw bytes.
            QString escaped;
            for (const char ch : path)
                escaped += QStringLiteral("\\%1").arg(static_cast<unsigned char>(ch), 3, 8, QLatin1Char('0'));
            QProcess p;
            p.start(QStringLiteral("/bin/sh"),
                    {"-c", "exec \"$0\" check --json \"$(printf \"$1\")\"", QStringLiteral(OVFW_PATH), escaped});
            QVERIFY(p.waitForFinished(kOvfwTimeoutMs));
            const QString err = QString::fromUtf8(p.readAllStandardError());
            QVERIFY2(p.exitCode() == 0, qPrintable(err));
            QCOMPARE(err.contains(QStringLiteral("warning:")), c.warned);
            const QList<QJsonObject> json = jsonLines(QString::fromUtf8(p.readAllStandardOutput()));
            QCOMPARE(json.size(), 1);
            QCOMPARE(json[0].value("version").isNull(), c.warned);
        }
        // A FIFO (and a process substitution) is read once, by the check.
        const QString fifo = dir_.filePath(QStringLiteral("fifo"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        MeterEmulatorProcess meter({"--no-pacing"});
        QProcess writer;  // the shell opens the FIFO, which blocks until ovfw reads it
        writer.start(QStringLiteral("/bin/sh"), {"-c", "cat \"$0\" > \"$1\"", made_.path, fifo});
        const Run r = ovfw({QStringLiteral("upgrade"), fifo, "--yes", "--force", "--port", "1"},
                           meter.portEntry());
        writer.waitForFinished();
        QVERIFY2(r.exitCode == 0, qPrintable(r.err + r.out));
        QCOMPARE(HexFiles::readAll(meter.imagePath()), made_.image);
    }

    // The command line says to a meter exactly what the window says, with
    // the same gaps: CR; 0.972 s; H; 0.108 s; H; V at once.
    void identifiesWithTheWindowsExchange()
    {
        MeterEmulatorProcess meter;
        const Run r = ovfw({QStringLiteral("identify"), QStringLiteral("--port"), QStringLiteral("1")},
                           meter.portEntry());
        QCOMPARE(r.exitCode, 0);
        const QList<MeterEmulatorProcess::Burst> sent = meter.receivedMessages();
        QCOMPARE(sent.size(), 4);
        const QList<QByteArray> bytes{sent[0].bytes, sent[1].bytes, sent[2].bytes, sent[3].bytes};
        QCOMPARE(bytes, (QList<QByteArray>{"\r", "H\r", "H\r", "V\r"}));
        constexpr double kTolerance = 0.05;  // seconds
        QVERIFY(qAbs(sent[1].seconds - sent[0].seconds - 0.972) < kTolerance);
        QVERIFY(qAbs(sent[2].seconds - sent[1].seconds - 0.108) < kTolerance);
        QVERIFY(sent[3].seconds - sent[2].seconds < kTolerance);
    }

    void identifiesMetersAndBootLoaders()
    {
        MeterEmulators meters = startMeters(1);
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing", "--boot"}));
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--no-pacing", "--silent"}));
        const Run r = ovfw({QStringLiteral("identify"), QStringLiteral("--probe-boot")}, portList(meters));
        QCOMPARE(r.exitCode, 1);  // port 3 has no meter
        QVERIFY2(r.out.contains(QStringLiteral("port  1: model 3A, serial OV3A01234, boot loader 1.02, firmware 2.10")),
                 qPrintable(r.out));
        QVERIFY(r.out.contains(QStringLiteral("port  2: boot loader")));
        QVERIFY(r.out.contains(QStringLiteral("port  3: no meter")));
    }

    // Ctrl-C mid-transfer: the line in flight is answered, nothing more is
    // sent, exit 130, and the summary's advice finishes the meter.
    void anInterruptedMeterCanBeFinished()
    {
        const auto small = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0212.OVH"), 8 * 1024);
        MeterEmulatorProcess meter({"--no-pacing", "--reply-delay", "20"});
        const QString ports = meter.portEntry();
        QProcess p;
        startOvfw(p, {"upgrade", small.path, "--yes", "--port", "1"}, ports);
        QTRY_VERIFY_WITH_TIMEOUT(meter.received().count(':') > 10, 10000);
        ::kill(static_cast<pid_t>(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(kOvfwTimeoutMs));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        QCOMPARE(p.exitCode(), 130);
        QVERIFY2(out.contains(QStringLiteral("--boot --port 1")), qPrintable(out));
        // Every line sent was answered; the meter is left in its boot loader.
        const QByteArray answers = meter.sent();
        const int linesSent = static_cast<int>(meter.received().count(':'));
        QVERIFY(linesSent < small.lines);
        QCOMPARE(static_cast<int>(answers.count("PASS\r")), linesSent + 1);  // and the boot entry

        const Run finish = ovfw({"upgrade", small.path, "--yes", "--boot", "--port", "1"}, ports);
        QVERIFY2(finish.exitCode == 0, qPrintable(finish.out + finish.err));
        QCOMPARE(HexFiles::readAll(meter.imagePath()), small.image);
    }

    // The command that finishes a meter, pasted into a shell as printed,
    // runs nothing and names exactly the file and the device; control
    // characters in a name reach the terminal only as escapes, here and in
    // `ovfw check`.
    void printedNamesAreSafe_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("shown");  // as the terminal should show it
        QTest::addColumn<bool>("exact");     // the pasted command names the very file and device
        QTest::newRow("command substitution") << "q$(touch PWNED)x" << "q$(touch PWNED)x" << true;
        QTest::newRow("quotes and backquotes") << "it's \"`touch PWNED`\" $HOME" << "it's \"`touch PWNED`\" $HOME"
                                               << true;
        QTest::newRow("escape sequences") << "q\x1b[2J\rforged\nrow" << "q\\x1B[2J\\rforged\\nrow" << false;
    }

    void printedNamesAreSafe()
    {
        QFETCH(QString, folder);
        QFETCH(QString, shown);
        QFETCH(bool, exact);
        const QString hostile = dir_.filePath(folder);
        QVERIFY(QDir().mkpath(hostile));
        const QString file = hostile + QStringLiteral("/OV3A_FW0210.OVH");
        QVERIFY(QFile::copy(made_.path, file));
        MeterEmulatorProcess meter({"--no-pacing", "--refuse-line", "1"});
        const QString device = hostile + QStringLiteral("/meter");
        QVERIFY(QFile::link(meter.device(), device));

        const Run r = ovfw({"upgrade", file, "--yes", "--retries", "0", "--device", device}, {});
        QVERIFY2(r.exitCode == 1, qPrintable(r.out + r.err));
        const Run check = ovfw({"check", file}, {});
        QCOMPARE(check.exitCode, 0);
        QVERIFY2(check.out.startsWith(dir_.filePath(shown) + QStringLiteral("/OV3A_FW0210.OVH: good\n")),
                 qPrintable(check.out));
        for (const QString &printed : {r.out, r.err, check.out, check.err})
            QVERIFY2(!printed.contains(QLatin1Char('\x1b')) && !printed.contains(QLatin1Char('\r')) &&
                         !printed.contains(QStringLiteral("\nrow")),
                     qPrintable(printed));

        const QString command = printedCommand(r.out);
        QVERIFY2(exact || command.contains(shown), qPrintable(r.out));
        const PastedCommand pasted = pasteIntoShell(command);
        QVERIFY2(pasted.madeFiles.isEmpty(), qPrintable(pasted.madeFiles.join(' ')));
        if (exact)
            QCOMPARE(pasted.arguments, (QStringList{"upgrade", file, "--boot", "--device", device}));
    }

private:
    QTemporaryDir dir_;
    HexFiles::Made made_;
};

QTEST_GUILESS_MAIN(TestOvfw)
#include "tst_ovfw.moc"
