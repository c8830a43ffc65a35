#pragma once
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUuid>
#include <pwd.h>
#include <unistd.h>

// A PostgreSQL 15 server of the test's own, in a temporary folder, listening
// only on a Unix socket there, stopped and removed with the object. It runs
// as an unprivileged user when the test runs as root (PostgreSQL refuses
// root), and asks every client for a password (scram-sha-256), which the
// test's clients find in a pgpass file: `environment()` names it.
class PostgresServer {
public:
    static constexpr const char *kBin = "/usr/lib/postgresql/15/bin";
    static constexpr const char *kAdmin = "ovfw_admin";
    static constexpr const char *kPassword = "bench-secret";
    static constexpr const char *kDatabase = "records";
    static constexpr int kCommandTimeoutMs = 60000;

    PostgresServer() : base_(QDir::tempPath() + QStringLiteral("/ovfw-pg-XXXXXX"))
    {
        if (!base_.isValid() || !clientFiles_.isValid())
            return;
        const bool root = ::geteuid() == 0;
        if (root) {
            const passwd *nobody = ::getpwnam("nobody");
            if (!nobody || ::chown(QFile::encodeName(base_.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
                return;
        }
        QFile::setPermissions(base_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString pwfile = base_.filePath(QStringLiteral("pw"));
        writeFile(pwfile, QByteArray(kPassword) + '\n');
        if (root)
            chownToBase(pwfile);
        writeFile(pgpassPath(), QStringLiteral("*:*:*:%1:%2\n").arg(kAdmin, kPassword).toUtf8());
        QFile::setPermissions(pgpassPath(), QFile::ReadOwner | QFile::WriteOwner);
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), dataPath(), QStringLiteral("--no-sync"), QStringLiteral("-U"),
                  QString::fromLatin1(kAdmin), QStringLiteral("--auth-local=scram-sha-256"),
                  QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("--pwfile=") + pwfile,
                  QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C")}))
            return;
        QFile::remove(pwfile);
        ready_ = start() && admin(QStringLiteral("CREATE DATABASE %1").arg(QString::fromLatin1(kDatabase)),
                                  QStringLiteral("postgres"));
    }

    ~PostgresServer()
    {
        if (QFile::exists(dataPath() + QStringLiteral("/postmaster.pid")))
            stop(QStringLiteral("immediate"));
    }

    bool ready() const { return ready_; }
    const QString &log() const { return log_; }
    QString socketDir() const { return base_.path(); }
    QString pgpassPath() const { return clientFiles_.filePath(QStringLiteral("pgpass")); }
    // The records database's URL, for the admin role, without its password.
    QString url(const QString &role = QString::fromLatin1(kAdmin)) const
    {
        return QStringLiteral("postgresql:///%1?host=%2&user=%3").arg(QString::fromLatin1(kDatabase), socketDir(), role);
    }
    // What a client process needs to find the password.
    QProcessEnvironment environment(QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) const
    {
        env.insert(QStringLiteral("PGPASSFILE"), pgpassPath());
        return env;
    }
    // A role with a password in the pgpass file too.
    bool addRole(const QString &role, const QString &password)
    {
        QFile pgpass(pgpassPath());
        if (!pgpass.open(QIODevice::Append))
            return false;
        pgpass.write(QStringLiteral("*:*:*:%1:%2\n").arg(role, password).toUtf8());
        pgpass.close();
        return admin(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, password));
    }

    bool start()
    {
        return run(QStringLiteral("pg_ctl"),
                   {QStringLiteral("-D"), dataPath(), QStringLiteral("-l"), base_.filePath(QStringLiteral("log")),
                    QStringLiteral("-w"), QStringLiteral("-o"),
                    QStringLiteral("-c listen_addresses='' -c unix_socket_directories='%1' -c fsync=off "
                                   "-c full_page_writes=off -c synchronous_commit=off")
                        .arg(socketDir()),
                    QStringLiteral("start")});
    }
    bool stop(const QString &mode = QStringLiteral("fast"))
    {
        return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataPath(), QStringLiteral("-m"), mode,
                                              QStringLiteral("-w"), QStringLiteral("stop")});
    }

    // A connection of the test's own, as the admin role.
    QSqlDatabase connect(const QString &database = QString::fromLatin1(kDatabase))
    {
        const QString name = QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(socketDir());
        db.setDatabaseName(database);
        db.setUserName(QString::fromLatin1(kAdmin));
        db.setPassword(QString::fromLatin1(kPassword));
        if (!db.open())
            log_ += db.lastError().text();
        return db;
    }
    bool admin(const QString &statement, const QString &database = QString::fromLatin1(kDatabase))
    {
        bool ok = false;
        QString connection;
        {
            QSqlDatabase db = connect(database);
            connection = db.connectionName();
            QSqlQuery q(db);
            ok = db.isOpen() && q.exec(statement);
            if (!ok)
                log_ += q.lastError().text() + QLatin1Char('\n');
        }
        QSqlDatabase::removeDatabase(connection);
        return ok;
    }

private:
    QString dataPath() const { return base_.filePath(QStringLiteral("data")); }

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write(bytes);
    }
    void chownToBase(const QString &path) const
    {
        const passwd *nobody = ::getpwnam("nobody");
        if (nobody && ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            log_ += QStringLiteral("cannot chown %1\n").arg(path);
    }
    // One of the server's programs, as the unprivileged user when root.
    bool run(const QString &program, const QStringList &args)
    {
        const QString path = QStringLiteral("%1/%2").arg(QString::fromLatin1(kBin), program);
        QProcess p;
        if (::geteuid() == 0)
            p.start(QStringLiteral("setpriv"), QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                                          QStringLiteral("--clear-groups"), path} +
                                                   args);
        else
            p.start(path, args);
        // pg_ctl's server keeps its output to the log file; nothing holds the pipes.
        const bool ok = p.waitForFinished(kCommandTimeoutMs) && p.exitStatus() == QProcess::NormalExit &&
                        p.exitCode() == 0;
        if (!ok)
            log_ += QStringLiteral("%1 failed: %2%3\n")
                        .arg(program, QString::fromLocal8Bit(p.readAllStandardOutput()),
                             QString::fromLocal8Bit(p.readAllStandardError()));
        return ok;
    }

    QTemporaryDir base_;
    QTemporaryDir clientFiles_;
    mutable QString log_;
    bool ready_ = false;
};
