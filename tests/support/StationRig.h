#pragma once
#include "HexFiles.h"
#include "OvfwRig.h"
#include "upgrade/FileFacts.h"
#include <QTemporaryDir>
#include <csignal>

// A station on a profile of its own, `stationPart` ([station] or
// [sockets]) followed by the test's file as model 3A, with its own history.
struct StationRig {
    QTemporaryDir folder;
    QProcess process;
    QProcessEnvironment env;
    QString profile;

    QString path(const QString &name) const { return folder.filePath(name); }
    void start(const QString &stationPart, const QString &file, const QStringList &options = {})
    {
        profile = HexFiles::write(folder.path(), QStringLiteral("profile.toml"),
                                  (stationPart + QStringLiteral("[models.3A]\nfile = \"%1\"\nsha256 = \"%2\"\n"))
                                      .arg(file, FileFacts::sha256Of(file))
                                      .toUtf8());
        env = ovfwEnvironment({}, path(QStringLiteral("history.sqlite")));
        startOvfw(process, QStringList{"station", profile, "--yes"} + options, env);
    }
    void signal(int number) { ::kill(static_cast<pid_t>(process.processId()), number); }
    OvfwRun stop()
    {
        signal(SIGTERM);
        return finishOvfw(process);
    }
    QList<QJsonObject> history(const QStringList &filter)
    {
        QProcess h;
        startOvfw(h, QStringList{"history", "--json"} + filter, env);
        return jsonLines(finishOvfw(h).out);
    }
};
