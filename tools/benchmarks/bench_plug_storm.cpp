// ovfw station under a plug storm: each of N sockets' links is made and
// removed K times within about a second, as a shaky hand or a bouncing
// USB hub does, then left in place. Every meter must be upgraded exactly
// once: none missed, none upgraded twice, no result credited to another
// meter.
// Run by hand: ./build/tools/benchmarks/ovfw_bench_plug_storm [--sockets 16] [--bounces 20] [--kib 8] [--settle 0.5]
#include "BenchSupport.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <algorithm>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr int kRecordBytes = 32;
constexpr int kStormMs = 1000;            // all the bounces of one socket
constexpr double kQuietAfterSeconds = 5;  // no result for so long after the last: the storm is over
constexpr int kMostSeconds = 900;

QString digestOf(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
}

QString serialOf(int i)
{
    return QStringLiteral("OV3A%1").arg(10000 + i);
}

// A link made as udev makes it: under a dot-name, renamed into place.
void link(const QString &device, const QString &socket)
{
    const QString temporary = QFileInfo(socket).path() + QStringLiteral("/.") + QFileInfo(socket).fileName();
    QFile::link(device, temporary);
    QFile::rename(temporary, socket);
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int sockets = 16, bounces = 20, kib = 8;
    double settle = 0.5;
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--sockets")) sockets = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--bounces")) bounces = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--kib")) kib = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--settle")) settle = a[i + 1].toDouble();
    }
    QTemporaryDir dir;
    const QString file = BenchSupport::makeHexFile(dir.path(), QStringLiteral("OV3A_FW0211.OVH"), qint64(kib) * 1024,
                                                   kRecordBytes);
    if (file.isEmpty() || sockets < 1 || bounces < 0)
        return 2;
    const QString watched = dir.filePath(QStringLiteral("w"));
    QDir().mkpath(watched);
    QFile profile(dir.filePath(QStringLiteral("profile.toml")));
    profile.open(QIODevice::WriteOnly);
    profile.write(QStringLiteral("[station]\nwatch = \"w\"\nsettle = %1\n[models.3A]\nfile = \"%2\"\nsha256 = \"%3\"\n")
                      .arg(settle)
                      .arg(file, digestOf(file))
                      .toUtf8());
    profile.close();

    std::vector<std::unique_ptr<QProcess>> meters;
    QStringList devices;
    for (int i = 0; i < sockets; ++i) {
        meters.push_back(std::make_unique<QProcess>());
        devices << BenchSupport::startEmulator(
            *meters.back(), {QStringLiteral("--restart-into"), QStringLiteral("2.11"), QStringLiteral("--identity"),
                             QStringLiteral("V,%1,1.02,2.10").arg(serialOf(i))});
    }
    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OVFW_HISTORY"), dir.filePath(QStringLiteral("history.sqlite")));
    station.setProcessEnvironment(env);
    station.start(QStringLiteral(OV_OVFW_PATH),
                  {QStringLiteral("station"), profile.fileName(), QStringLiteral("--yes"), QStringLiteral("--json")});
    if (!station.waitForStarted())
        return 2;
    QThread::msleep(500);

    // The storm: every socket's link made and removed `bounces` times, then made for good.
    const double t0 = MonotonicClock::now();
    const unsigned long pauseMs = static_cast<unsigned long>(kStormMs / std::max(1, 2 * bounces));
    for (int round = 0; round < bounces; ++round) {
        for (int i = 0; i < sockets; ++i)
            link(devices[i], QDir(watched).filePath(QStringLiteral("S%1").arg(i)));
        QThread::msleep(pauseMs);
        for (int i = 0; i < sockets; ++i)
            QFile::remove(QDir(watched).filePath(QStringLiteral("S%1").arg(i)));
        QThread::msleep(pauseMs);
    }
    for (int i = 0; i < sockets; ++i)
        link(devices[i], QDir(watched).filePath(QStringLiteral("S%1").arg(i)));
    const double stormSeconds = MonotonicClock::now() - t0;

    // Results until every meter has one and nothing more comes.
    QMap<QString, QStringList> results;  // by serial
    QByteArray out;
    double lastResult = MonotonicClock::now(), allUpgraded = -1;
    while (MonotonicClock::now() < t0 + kMostSeconds &&
           (allUpgraded < 0 || MonotonicClock::now() < lastResult + kQuietAfterSeconds)) {
        station.waitForReadyRead(100);
        out += station.readAllStandardOutput();
        const int end = out.lastIndexOf('\n');
        if (end < 0)
            continue;
        for (const QByteArray &line : out.left(end).split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            const QString result = e.value(QStringLiteral("result")).toString();
            if (e.value(QStringLiteral("event")).toString() != QLatin1String("result") || result == QLatin1String("no_meter"))
                continue;
            results[e.value(QStringLiteral("serial")).toString()] << result;
            lastResult = MonotonicClock::now();
        }
        out = out.mid(end + 1);
        int upgraded = 0;
        for (const QStringList &r : results)
            upgraded += r.count(QStringLiteral("completed")) > 0;
        if (upgraded == sockets && allUpgraded < 0)
            allUpgraded = MonotonicClock::now() - t0;
    }
    station.terminate();
    station.waitForFinished(60000);
    for (auto &m : meters)
        BenchSupport::stopEmulator(*m);

    int once = 0, missed = 0, doubled = 0, others = 0;
    for (int i = 0; i < sockets; ++i) {
        const QStringList r = results.value(serialOf(i));
        const qsizetype completed = r.count(QStringLiteral("completed"));
        once += completed == 1;
        missed += completed == 0;
        doubled += completed > 1;
        others += static_cast<int>(r.size() - completed);
    }
    const int strangers = static_cast<int>(results.size()) - static_cast<int>(std::count_if(
        results.keyBegin(), results.keyEnd(), [&](const QString &s) { return s.startsWith(QLatin1String("OV3A1")); }));
    std::printf("%d sockets x %d bounces in %.2f s, settle %.2f s, %d KiB file:\n"
                "  upgraded once %d/%d, missed %d, upgraded twice %d (goal: 0 and 0)\n"
                "  other results of these meters %d, results of no meter plugged %d\n"
                "  storm's start to the last meter upgraded: %.1f s\n",
                sockets, bounces, stormSeconds, settle, kib, once, sockets, missed, doubled, others, strangers,
                allUpgraded);
    return missed == 0 && doubled == 0 && strangers == 0 ? 0 : 1;
}
