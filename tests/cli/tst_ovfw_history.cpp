// ovfw's upgrade history end to end: what it records of every meter reached,
// also when ovfw is killed or another writes at once, how `ovfw history`
// shows and filters it, and a history that cannot be read or written never
// in an upgrade's way. ovfw as a child process, meters on emulators.
#include "HexFiles.h"
#include "OvfwRig.h"
#include "upgrade/FileFacts.h"
#include "history/HistoryStore.h"
#include <QtTest>
#include <csignal>
#include <sys/stat.h>

namespace {
constexpr int kFileBytes = 4 * 1024;
constexpr int kRefusedLine = 5;

using Run = OvfwRun;

// A finished attempt started at `startedUtc`, as another bench (or anyone
// who can write the shared history) may have left it.
AttemptRecord attemptAt(const QString &startedUtc)
{
    AttemptRecord r;
    r.startedUtc = r.endedUtc = startedUtc;
    r.face = QStringLiteral("ovfw");
    r.host = QStringLiteral("bench");
    r.port = 1;
    r.device = QStringLiteral("/dev/ttyUSB0");
    r.outcome = QStringLiteral("completed");
    return r;
}
}

class TestOvfwHistory : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        made_ = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0211.OVH"), kFileBytes);
        QVERIFY2(!made_.path.isEmpty(), "srec_cat made no file");
        digest_ = FileFacts::sha256Of(made_.path);
        QCOMPARE(digest_.size(), 64);
    }

    // One row per meter reached, with what it said and how it ended; none
    // for a port where nothing answered.
    void recordsEveryMeterReached()
    {
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        MeterEmulators meters = startNumberedMeters(3);
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{
            "--no-pacing", "--identity", "V," + serialOf(3) + ",1.02,2.10", "--refuse-line", QString::number(kRefusedLine)}));
        meters.push_back(std::make_unique<MeterEmulatorProcess>(
            QStringList{"--no-pacing", "--identity", "V,OV3B00004,1.02,2.10"}));
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{"--silent"}));
        meters.push_back(std::make_unique<MeterEmulatorProcess>(QStringList{
            "--no-pacing", "--identity", "V," + serialOf(6) + ",1.02,2.10", "--switch-delay", "9000"}));
        const Run r = ovfw(QStringList{"upgrade", made_.path, "--yes", "--retries", "1", "--sha256", digest_.toUpper()} +
                               portArgs(7),
                           portList(meters), history);
        QVERIFY2(r.exitCode == 1, qPrintable(r.out + r.err));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));

        const QMap<int, QJsonObject> rows = historyByPort(history);
        QCOMPARE(rows.keys(), (QList<int>{1, 2, 3, 4, 5, 7}));
        for (int port : rows.keys()) {
            const QJsonObject row = rows.value(port);
            QCOMPARE(row.value("face").toString(), QString("ovfw"));
            QCOMPARE(row.value("device").toString(), meters[port - 1]->device());
            QCOMPARE(row.value("real_device").toString(), meters[port - 1]->device());
            QCOMPARE(row.value("serial").toString(), port == 5 ? QString("OV3B00004") : serialOf(port - 1));
            QCOMPARE(row.value("firmware_version").toString(), QString("2.10"));
            QCOMPARE(row.value("boot_version").toString(), QString("1.02"));
            QCOMPARE(row.value("file_sha256").toString(), digest_);
            QCOMPARE(row.value("file_path").toString(), made_.path);
            QCOMPARE(row.value("target_version").toString(), QString("02.11"));
            QCOMPARE(row.value("lines_total").toInt(), made_.lines);
            QVERIFY(!row.value("ended").toString().isEmpty());
        }
        for (int port = 1; port <= 3; ++port) {
            QCOMPARE(rows.value(port).value("outcome").toString(), QString("completed"));
            QCOMPARE(rows.value(port).value("lines_sent").toInt(), made_.lines);
        }
        QCOMPARE(rows.value(4).value("outcome").toString(), QString("unexpected_end"));
        QCOMPARE(rows.value(4).value("refused_line").toInt(), kRefusedLine);
        QCOMPARE(rows.value(4).value("lines_sent").toInt(), kRefusedLine - 1);
        QCOMPARE(rows.value(4).value("retries").toInt(), 1);
        QCOMPARE(rows.value(4).value("left_in_boot_loader").toBool(), true);
        QCOMPARE(rows.value(5).value("outcome").toString(), QString("model_mismatch"));
        QCOMPARE(rows.value(5).value("model").toString(), QString("3B"));
        QCOMPARE(rows.value(5).value("left_in_boot_loader"), QJsonValue(false));
        // A switch never acknowledged may still have happened: unknown, in
        // JSON and in the table alike.
        QCOMPARE(rows.value(7).value("outcome").toString(), QString("not_switched"));
        QCOMPARE(rows.value(7).value("left_in_boot_loader"), QJsonValue());

        QCOMPARE(historyByPort(history, {"--failed"}).keys(), (QList<int>{4, 7}));
        QCOMPARE(historyByPort(history, {"--serial", serialOf(1)}).keys(), QList<int>{2});
        const Run table = ovfw({"history"}, {}, history);
        QVERIFY2(table.exitCode == 0 && table.out.count('\n') == 7, qPrintable(table.out));
        QCOMPARE(table.out.count(" (in boot loader on "), 1);
        // Words, not labels, and versions as the meter writes them.
        QVERIFY2(table.out.contains("not switched (may be in boot loader on " + meters[6]->device()), qPrintable(table.out));
        QVERIFY2(table.out.contains("unexpected end: line 5 refused"), qPrintable(table.out));
        QVERIFY2(table.out.contains("  2.10 -> 2.11  "), qPrintable(table.out));
        QCOMPARE(rowCount(history), 6);
    }

    // --since in local time across the clock changes (Berlin: 2026-03-29
    // 02:00 CET becomes 03:00 CEST; 2026-10-25 03:00 CEST becomes 02:00 CET
    // again), and the real bound of --limit.
    void optionsMeanWhatTheySay_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QList<int>>("ids");
        QTest::addColumn<QString>("said");  // on standard error
        QTest::newRow("a skipped time: the first after it")
            << QStringList{"--since", "2026-03-29T02:30"} << 0 << QList<int>{6, 5, 4, 3, 2}
            << "skipped; taken as 2026-03-29T03:00:00.000+02:00";
        QTest::newRow("a repeated time: the earlier")
            << QStringList{"--since", "2026-10-25T02:30"} << 0 << QList<int>{6, 5} << QString();
        QTest::newRow("an offset given") << QStringList{"--since", "2026-10-25T02:30+01:00"} << 0 << QList<int>{6}
                                         << QString();
        QTest::newRow("a date") << QStringList{"--since", "2026-10-25"} << 0 << QList<int>{6, 5, 4} << QString();
        QTest::newRow("more rows than there can be")
            << QStringList{"--limit", "99999999999"} << 2 << QList<int>{} << "from 1 to 2147483647";
    }

    void optionsMeanWhatTheySay()
    {
        QFETCH(QStringList, options);
        QFETCH(int, exitCode);
        QFETCH(QList<int>, ids);
        QFETCH(QString, said);
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        {
            HistoryStore store(HistoryStore::Access::Write, history);
            // In Berlin: 01:59 CET, 03:00 and 03:15 CEST; 02:15 and 02:45 CEST, then 02:45 CET.
            for (const char *started : {"2026-03-29T00:59:00.000Z", "2026-03-29T01:00:00.000Z",
                                        "2026-03-29T01:15:00.000Z", "2026-10-25T00:15:00.000Z",
                                        "2026-10-25T00:45:00.000Z", "2026-10-25T01:45:00.000Z"}) {
                AttemptRecord row = attemptAt(QString::fromLatin1(started));
                QVERIFY(store.insert(row) > 0);
            }
        }
        QProcessEnvironment env = ovfwEnvironment({}, history);
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        QProcess p;
        startOvfw(p, QStringList{"history", "--json"} + options, env);
        const Run r = finishOvfw(p);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(listedIds(r.out), ids);
        QVERIFY2(said.isEmpty() ? r.err.isEmpty() : r.err.contains(said), qPrintable(r.err));
    }

    // A shared history's rows are written by whoever can write the file:
    // the table shows their control characters as escapes and "%1" as it
    // is; a spreadsheet takes no CSV cell for a formula; JSON stays exact.
    void hostileRowsStayText()
    {
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        AttemptRecord r = attemptAt(QStringLiteral("2026-12-07T15:10:31.902Z"));
        r.serial = QStringLiteral("=2+3%8");
        r.model = QStringLiteral("@A");
        r.filePath = QStringLiteral("-x");
        r.errorText = QStringLiteral("\x1b[2J\rforged\n2026-12-07 16:10:31  ovfw");
        r.outcome = QStringLiteral("failed");
        QVERIFY(HistoryStore(HistoryStore::Access::Write, history).insert(r) > 0);

        const Run table = ovfw({"history"}, {}, history);
        QCOMPARE(table.out.count('\n'), 2);
        QVERIFY2(!table.out.contains('\x1b') && !table.out.contains('\r'), qPrintable(table.out));
        QVERIFY2(table.out.contains(QStringLiteral("=2+3%8")), qPrintable(table.out));
        QVERIFY2(table.out.contains(QStringLiteral("failed: \\x1B[2J\\rforged\\n2026-12-07 16:10:31  ovfw\n")),
                 qPrintable(table.out));

        const Run csv = ovfw({"history", "--csv"}, {}, history);
        const QStringList cells = csv.out.split(QStringLiteral("\r\n")).value(1).split(',');
        QVERIFY2(cells.contains(QStringLiteral("\"'=2+3%8\"")) && cells.contains(QStringLiteral("\"'@A\"")) &&
                     cells.contains(QStringLiteral("\"'-x\"")) && cells.contains(QStringLiteral("-1")),
                 qPrintable(csv.out));

        const QJsonObject json =
            QJsonDocument::fromJson(ovfw({"history", "--json"}, {}, history).out.toUtf8()).object();
        QCOMPARE(json.value("serial").toString(), r.serial);
        QCOMPARE(json.value("error_text").toString(), r.errorText);
    }

    // kill -9 mid-transfer: that meter's row reads interrupted once ovfw is
    // gone, with the lines acknowledged by its last write, and may have left
    // the meter in its boot loader; the meter finished before it keeps its row.
    void aKilledRunIsInterrupted()
    {
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        MeterEmulators meters = startNumberedMeters(1);
        meters.push_back(std::make_unique<MeterEmulatorProcess>(
            QStringList{"--no-pacing", "--identity", "V," + serialOf(1) + ",1.02,2.10", "--reply-delay", "60"}));
        QProcess p;
        startOvfw(p, QStringList{"upgrade", made_.path, "--yes"} + portArgs(2), portList(meters), history);
        QTRY_COMPARE_WITH_TIMEOUT(historyByPort(history).value(1).value("outcome").toString(), QString("completed"), 30000);
        QCOMPARE(historyByPort(history).value(2).value("outcome").toString(), QString("running"));
        // Written while it runs, at most every 5 s.
        QTRY_VERIFY_WITH_TIMEOUT(historyByPort(history).value(2).value("lines_sent").toInt() > 0, 15000);
        p.kill();  // SIGKILL
        QVERIFY(p.waitForFinished());

        const QMap<int, QJsonObject> failed = historyByPort(history, {"--failed"});
        QCOMPARE(failed.keys(), QList<int>{2});
        const QJsonObject row = failed.value(2);
        QCOMPARE(row.value("outcome").toString(), QString("interrupted"));
        QCOMPARE(row.value("serial").toString(), serialOf(1));
        QVERIFY(row.value("ended").isNull());
        const qsizetype acknowledged = meters[1]->received().count(':');  // lines sent, all accepted but the last
        QVERIFY2(row.value("lines_sent").toInt() > 0 && row.value("lines_sent").toInt() <= acknowledged,
                 qPrintable(QString("%1 of %2").arg(row.value("lines_sent").toInt()).arg(acknowledged)));
        QCOMPARE(row.value("left_in_boot_loader"), QJsonValue());
        QCOMPARE(historyByPort(history).value(1).value("outcome").toString(), QString("completed"));
        const Run table = ovfw({"history", "--failed"}, {}, history);
        QVERIFY2(table.out.contains("unfinished: its run ended (may be in boot loader on " + meters[1]->device()), qPrintable(table.out));
    }

    // A history that is not there yet has nothing recorded; one that is
    // there but cannot be read says so, and fails, whatever the format.
    void anUnreadableHistorySaysSo_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("not there yet") << "none" << 0;
        QTest::newRow("empty file") << "empty" << 0;
        QTest::newRow("not a database") << "corrupt" << 1;
        QTest::newRow("a folder") << "folder" << 1;
        QTest::newRow("a FIFO") << "fifo" << 1;
        QTest::newRow("unreadable") << "unreadable" << 1;
    }

    void anUnreadableHistorySaysSo()
    {
        QFETCH(QString, kind);
        QFETCH(int, exitCode);
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        if (kind == "empty")
            HexFiles::write(state.path(), "history.sqlite", {});
        else if (kind == "corrupt")
            HexFiles::write(state.path(), "history.sqlite", QByteArray(8192, '\x5a'));
        else if (kind == "folder")
            QVERIFY(QDir().mkpath(history));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(history).constData(), 0600), 0);
        if (kind == "unreadable") {
            QCOMPARE(ovfw({"history"}, {}, history).exitCode, 0);  // made, nothing recorded
            const MeterEmulators meters = startNumberedMeters(1, {"--reply-delay", "0"});
            QCOMPARE(ovfw({"upgrade", made_.path, "--yes", "--port", "1"}, portList(meters), history).exitCode, 0);
            QVERIFY(QFile::setPermissions(history, QFile::WriteOwner));
            QFile probe(history);
            if (probe.open(QIODevice::ReadOnly))
                QSKIP("this user reads unreadable files; run as another user or without CAP_DAC_OVERRIDE");
        }
        for (const QStringList &format : {QStringList{}, QStringList{"--json"}, QStringList{"--csv"}}) {
            const Run r = ovfw(QStringList{"history"} + format, {}, history);
            QVERIFY2(r.exitCode == exitCode, qPrintable(format.join(' ') + ": " + r.out + r.err));
            if (exitCode == 0) {
                QVERIFY(r.err.isEmpty());
                QCOMPARE(r.out, format.isEmpty() ? QString("No upgrade recorded.\n")
                                                 : format == QStringList{"--csv"} ? r.out.left(r.out.indexOf('\n') + 1)
                                                                                  : QString());
            } else {
                QVERIFY2(r.err.startsWith("ovfw history: cannot ") && r.err.contains(history), qPrintable(r.err));
                QVERIFY2(!r.out.contains("No upgrade recorded."), qPrintable(r.out));
            }
        }
        QFile::setPermissions(history, QFile::ReadOwner | QFile::WriteOwner);
    }

    // Sixteen meters in one ovfw and four in another, at once, in one
    // history: a row for each, and no complaint.
    void concurrentWritersWait()
    {
        QTemporaryDir state;
        const QString history = state.filePath("history.sqlite");
        const MeterEmulators first = startNumberedMeters(16, {"--reply-delay", "0"});
        const MeterEmulators second = startNumberedMeters(4, {"--reply-delay", "0"});
        const auto small = HexFiles::make(dir_.path(), QStringLiteral("OV3A_FW0212.OVH"), 1024);
        QProcess a, b;
        startOvfw(a, QStringList{"upgrade", small.path, "--yes"} + portArgs(16), portList(first), history);
        startOvfw(b, QStringList{"upgrade", small.path, "--yes"} + portArgs(4), portList(second), history);
        const Run ra = finishOvfw(a), rb = finishOvfw(b);
        QVERIFY2(ra.exitCode == 0 && ra.err.isEmpty(), qPrintable(ra.out + ra.err));
        QVERIFY2(rb.exitCode == 0 && rb.err.isEmpty(), qPrintable(rb.out + rb.err));
        const Run csv = ovfw({"history", "--csv", "--limit", "100"}, {}, history);
        QCOMPARE(csv.out.count(QStringLiteral(",completed,")), 20);
        QCOMPARE(rowCount(history), 20);
    }

    // A file that is no database, and a folder that cannot be written: the
    // upgrade sends the same bytes and completes, with one line said.
    void neverInTheWay()
    {
        QTemporaryDir state;
        const auto sent = [&](const QString &history, Run &r) {
            const MeterEmulators meters = startNumberedMeters(1, {"--reply-delay", "0"});
            r = ovfw({"upgrade", made_.path, "--yes", "--port", "1"}, portList(meters), history);
            return meters[0]->received();
        };
        Run normal, corrupt, readOnly;
        const QByteArray wire = sent(state.filePath("good.sqlite"), normal);
        QVERIFY2(normal.exitCode == 0 && normal.err.isEmpty(), qPrintable(normal.err));

        const QString bad = state.filePath("bad.sqlite");
        HexFiles::write(state.path(), "bad.sqlite", QByteArray(8192, '\x5a'));
        QCOMPARE(sent(bad, corrupt), wire);
        QVERIFY2(corrupt.exitCode == 0, qPrintable(corrupt.err));
        QCOMPARE(corrupt.err.count('\n'), 1);
        QVERIFY2(corrupt.err.contains("kept as"), qPrintable(corrupt.err));
        QCOMPARE(QDir(state.path()).entryList({"bad.sqlite.corrupt-*"}).size(), 1);
        QCOMPARE(rowCount(bad), 1);

        const QString locked = state.filePath("locked");
        QVERIFY(QDir().mkpath(locked));
        QVERIFY(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
        QFile probe(locked + "/probe");
        if (probe.open(QIODevice::WriteOnly))
            QSKIP("this user writes into read-only folders; run as another user or without CAP_DAC_OVERRIDE");
        QCOMPARE(sent(locked + "/history.sqlite", readOnly), wire);
        QVERIFY2(readOnly.exitCode == 0, qPrintable(readOnly.err));
        QCOMPARE(readOnly.err.count('\n'), 1);
        QVERIFY2(readOnly.err.contains("upgrade history"), qPrintable(readOnly.err));
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    QTemporaryDir dir_;
    HexFiles::Made made_;
    QString digest_;
};

QTEST_GUILESS_MAIN(TestOvfwHistory)
#include "tst_ovfw_history.moc"
