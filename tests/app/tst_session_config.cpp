#include "HexFiles.h"
#include "WindowRig.h"
#include <QDir>
#include <QFile>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {
QByteArray expectedFile(const QByteArray &firstLine)
{
    QByteArray b = firstLine + "\r\n";
    for (int i = 0; i < 10; ++i)
        b += "\"\"\r\n";
    return b;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// Tells a file replaced by a new one from the same file rewritten.
ino_t inode(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

const auto kFolderLocked = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup;
const auto kFileLocked = QFile::ReadOwner | QFile::ReadGroup;
}

class TestSessionConfig : public QObject {
    Q_OBJECT
private slots:
    // The new file replaces the old one whole; in a read-only folder, where no
    // new file can be made, the old file is rewritten in place with the same bytes.
    void writesTheIndexAndTenEmptyFields_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::newRow("none") << 0 << 43 << false;
        QTest::newRow("port 7") << 7 << 43 << false;
        QTest::newRow("port 12") << 12 << 44 << false;
        QTest::newRow("port 12, read-only folder") << 12 << 44 << true;
    }

    void writesTheIndexAndTenEmptyFields()
    {
        QFETCH(int, index);
        QFETCH(int, bytes);
        QFETCH(bool, readOnlyFolder);
        WindowRig rig{QString()};
        rig.window->Form_Load();
        const QString path = rig.sessionFile();
        // An older, longer file is replaced whole.
        QVERIFY(writeFile(path, QByteArray(500, 'x')));
        const ino_t oldInode = inode(path);
        const auto perms = QFile::permissions(rig.appDir.path());
        if (readOnlyFolder)
            QFile::setPermissions(rig.appDir.path(), kFolderLocked);
        rig.g.Port_Menu_Index = static_cast<std::int16_t>(index);
        const bool saved = rig.window->Save_Config();
        QFile::setPermissions(rig.appDir.path(), perms);
        QVERIFY(saved);
        const QByteArray content = HexFiles::readAll(path);
        QCOMPARE(content, expectedFile(QByteArray::number(index)));
        QCOMPARE(content.size(), bytes);
        QCOMPARE(inode(path) == oldInode, readOnlyFolder);
        QCOMPARE(QDir(rig.appDir.path()).entryList(QDir::Files), QStringList{"ra_zezidev.cfg"});
        QCOMPARE(QDir::currentPath(), QDir(rig.appDir.path()).canonicalPath());
        QVERIFY(rig.prompts.problems().isEmpty());
    }

    void failedSaveReportsOnceAndKeepsTheOldFile_data()
    {
        QTest::addColumn<bool>("readOnlyFolder");
        QTest::addColumn<bool>("hadFile");  // read-only when there is one
        QTest::newRow("read-only file") << false << true;
        QTest::newRow("read-only folder and file") << true << true;
        QTest::newRow("read-only folder, no file yet") << true << false;
    }

    void failedSaveReportsOnceAndKeepsTheOldFile()
    {
        QFETCH(bool, readOnlyFolder);
        QFETCH(bool, hadFile);
        WindowRig rig{QString()};
        rig.window->Form_Load();
        const QString path = rig.sessionFile();
        const QByteArray old = expectedFile("5");
        if (hadFile) {
            QVERIFY(writeFile(path, old));
            QFile::setPermissions(path, kFileLocked);
        }
        const auto perms = QFile::permissions(rig.appDir.path());
        if (readOnlyFolder)
            QFile::setPermissions(rig.appDir.path(), kFolderLocked);
        rig.g.Port_Menu_Index = 9;
        rig.prompts.expect("Error Saving Session Config File", 16, "Save Parameters", MsgAnswer::OK);
        const bool saved = rig.window->Save_Config();
        QFile::setPermissions(rig.appDir.path(), perms);
        QVERIFY(!saved);
        QCOMPARE(rig.prompts.problems(), QStringList());
        QCOMPARE(HexFiles::readAll(path), hadFile ? old : QByteArray());
        QCOMPARE(QDir(rig.appDir.path()).entryList(QDir::Files),
                 hadFile ? QStringList{"ra_zezidev.cfg"} : QStringList());
    }

    // A disk that fills up under the save: the box, and the old file stays
    // whole. The file-size limit stands in for the full disk.
    void fullDiskReportsAndKeepsTheOldFile()
    {
        WindowRig rig{QString()};
        rig.window->Form_Load();
        const QString path = rig.sessionFile();
        const QByteArray old = expectedFile("3");
        QVERIFY(writeFile(path, old));
        rig.prompts.expect("Error Saving Session Config File", 16, "Save Parameters", MsgAnswer::OK);
        rlimit before{};
        getrlimit(RLIMIT_FSIZE, &before);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit full = before;
        full.rlim_cur = 10;  // bytes
        setrlimit(RLIMIT_FSIZE, &full);
        rig.g.Port_Menu_Index = 12;
        const bool saved = rig.window->Save_Config();
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, previous);
        QVERIFY(!saved);
        QCOMPARE(rig.prompts.problems(), QStringList());
        QCOMPARE(HexFiles::readAll(path), old);
        QCOMPARE(QDir(rig.appDir.path()).entryList(QDir::Files), QStringList{"ra_zezidev.cfg"});
    }

    // An installed program names the user's folder for its session file; the
    // bytes and the name stay the same, and the program's folder is untouched.
    void sessionFolderCanBeNamed()
    {
        WindowRig rig{QString()};
        rig.window->Form_Load();
        QTemporaryDir state;
        qputenv("OVFW_SESSION_DIR", QFile::encodeName(state.path()));
        rig.g.Port_Menu_Index = 7;
        const bool saved = rig.window->Save_Config();
        qunsetenv("OVFW_SESSION_DIR");
        QVERIFY(saved);
        QCOMPARE(HexFiles::readAll(state.filePath("ra_zezidev.cfg")), expectedFile("7"));
        QVERIFY(QDir(rig.appDir.path()).entryList(QDir::Files).isEmpty());
    }

    void missingFolderFailsWithoutWritingElsewhere()
    {
        WindowRig rig{QString()};
        rig.window->Form_Load();
        QDir::setCurrent(rig.appDir.path());
        rig.g.App_Path = rig.appDir.filePath("gone");
        rig.prompts.expect("Error Saving Session Config File", 16, "Save Parameters", MsgAnswer::OK);
        QVERIFY(!rig.window->Save_Config());
        QVERIFY(!QFile::exists(rig.sessionFile()));
        QCOMPARE(rig.prompts.problems(), QStringList());
    }

    void loadReadsWhatSaveWrote()
    {
        WindowRig rig{QString()};
        rig.window->Form_Load();
        rig.g.Port_Menu_Index = 12;
        QVERIFY(rig.window->Save_Config());
        rig.g.Port_Menu_Index = 3;
        QVERIFY(rig.window->Load_Config());
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(12));
    }

    void loadRejectsBadFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("too few fields") << QByteArray("7\r\n\"\"\r\n");
        QTest::newRow("not a number") << expectedFile("\"seven\"");
        QTest::newRow("beyond 16 bits") << expectedFile("70000");
        QTest::newRow("empty") << QByteArray();
    }

    void loadRejectsBadFiles()
    {
        QFETCH(QByteArray, content);
        WindowRig rig{QString()};
        QDir::setCurrent(rig.appDir.path());
        QVERIFY(writeFile(rig.sessionFile(), content));
        rig.g.Port_Menu_Index = 4;
        QVERIFY(!rig.window->Load_Config());
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(0));
        QFile::remove(rig.sessionFile());
        rig.g.Port_Menu_Index = 4;
        QVERIFY(!rig.window->Load_Config());  // no file at all
        QCOMPARE(rig.g.Port_Menu_Index, std::int16_t(0));
    }
};

QTEST_MAIN(TestSessionConfig)
#include "tst_session_config.moc"
