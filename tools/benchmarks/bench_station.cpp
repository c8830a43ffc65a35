// ovfw station measured: its processor use while idle (a watched folder with
// no socket; sixteen fixed sockets whose cable has no meter, each asked
// about once a second),
// the time from a plug to the first byte on the meter's wire (the settle time
// set to 0), and sixteen paced meters plugged at once against one alone.
// Run by hand: ./build/tools/benchmarks/ovfw_bench_station [--idle-seconds 60] [--kib 8]
#include "BenchSupport.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
constexpr int kRecordBytes = 32;
constexpr int kFixedSockets = 16;
constexpr int kPluggedAtOnce = 16;
constexpr int kPollMs = 2;
constexpr int kMostSecondsPerRun = 600;

QString digestOf(const QString &path)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromLatin1(QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex());
}

struct Station {
    QTemporaryDir dir;
    QProcess process;
    QString watched() const { return dir.filePath(QStringLiteral("w")); }

    // Starts a station on `sockets` (a [sockets] table) or, when empty, on a watched folder.
    bool start(const QString &file, const QString &sockets)
    {
        QDir().mkpath(watched());
        QFile profile(dir.filePath(QStringLiteral("profile.toml")));
        if (!profile.open(QIODevice::WriteOnly))
            return false;
        profile.write(QStringLiteral("[station]\n%1settle = 0\n%2[models.3A]\nfile = \"%3\"\nsha256 = \"%4\"\n")
                          .arg(sockets.isEmpty() ? QStringLiteral("watch = \"w\"\n") : QString(),
                               sockets.isEmpty() ? QString() : QStringLiteral("[sockets]\n") + sockets, file,
                               digestOf(file))
                          .toUtf8());
        profile.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OVFW_HISTORY"), dir.filePath(QStringLiteral("history.sqlite")));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(OV_OVFW_PATH), {QStringLiteral("station"), profile.fileName(),
                                                     QStringLiteral("--yes"), QStringLiteral("--json")});
        return process.waitForStarted();
    }

    void stop()
    {
        process.terminate();
        process.waitForFinished(kMostSecondsPerRun * 1000);
    }
};

double idleCpuPercent(const QString &file, const QString &sockets, int seconds)
{
    Station s;
    if (!s.start(file, sockets))
        return -1;
    QThread::sleep(2);  // settled into its idle round
    const qint64 pid = s.process.processId();
    const double cpu0 = BenchSupport::processCpuSeconds(pid), t0 = MonotonicClock::now();
    QThread::sleep(static_cast<unsigned long>(seconds));
    const double used = BenchSupport::processCpuSeconds(pid) - cpu0, wall = MonotonicClock::now() - t0;
    s.stop();
    return 100 * used / wall;
}

// Meters plugged at once into a watched folder: the seconds from the plug to
// the first byte each meter heard (the mean) and to the last result.
struct Plugged {
    double firstByteSeconds = -1, allDoneSeconds = -1;
    int completed = 0;
};

Plugged plug(const QString &file, int count)
{
    Station s;
    Plugged p;
    if (!s.start(file, {}))
        return p;
    QThread::msleep(500);
    std::vector<std::unique_ptr<QProcess>> meters;
    std::vector<QString> logs, devices;
    for (int i = 0; i < count; ++i) {
        meters.push_back(std::make_unique<QProcess>());
        logs.push_back(s.dir.filePath(QStringLiteral("wire%1.log").arg(i)));
        devices.push_back(BenchSupport::startEmulator(
            *meters.back(), {QStringLiteral("--restart-into"), QStringLiteral("2.11"), QStringLiteral("--log"), logs.back()}));
    }
    const double t0 = MonotonicClock::now();
    for (int i = 0; i < count; ++i)
        QFile::link(devices[i], QDir(s.watched()).filePath(QStringLiteral("S%1").arg(i)));
    std::vector<double> heard(static_cast<std::size_t>(count), -1);
    for (int waiting = count; waiting > 0 && MonotonicClock::now() < t0 + kMostSecondsPerRun;) {
        QThread::msleep(kPollMs);
        for (int i = 0; i < count; ++i)
            if (heard[i] < 0 && QFile(logs[i]).size() > 0) {
                heard[i] = MonotonicClock::now() - t0;
                --waiting;
            }
    }
    double sum = 0;
    for (double h : heard)
        sum += h;
    p.firstByteSeconds = sum / count;
    QByteArray out;
    while (p.completed < count && MonotonicClock::now() < t0 + kMostSecondsPerRun) {
        s.process.waitForReadyRead(100);
        out += s.process.readAllStandardOutput();
        p.completed = 0;
        for (const QByteArray &line : out.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            p.completed += e.value(QStringLiteral("event")).toString() == QLatin1String("result") &&
                           e.value(QStringLiteral("result")).toString() == QLatin1String("completed");
        }
    }
    p.allDoneSeconds = MonotonicClock::now() - t0;
    s.stop();
    for (auto &m : meters)
        BenchSupport::stopEmulator(*m);
    return p;
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int idleSeconds = 60, kib = 8;
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--idle-seconds")) idleSeconds = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--kib")) kib = a[i + 1].toInt();
    }
    QTemporaryDir dir;
    const QString file = BenchSupport::makeHexFile(dir.path(), QStringLiteral("OV3A_FW0211.OVH"), qint64(kib) * 1024,
                                                   kRecordBytes);
    if (file.isEmpty())
        return 1;
    // Adapters with no meter on their cable: silent lines that open.
    std::vector<std::unique_ptr<QProcess>> cables;
    QString fixed;
    for (int i = 0; i < kFixedSockets; ++i) {
        cables.push_back(std::make_unique<QProcess>());
        fixed += QStringLiteral("F%1 = \"%2\"\n").arg(i).arg(BenchSupport::startEmulator(*cables.back(), {QStringLiteral("--silent")}));
    }
    const double idleWatched = idleCpuPercent(file, {}, idleSeconds);
    const double idleFixed = idleCpuPercent(file, fixed, idleSeconds);
    for (auto &c : cables)
        BenchSupport::stopEmulator(*c);
    std::printf("idle over %d s: watched folder %.3f%% of a core (goal <= 0.1%%), %d fixed sockets %.3f%% "
                "(goal <= 0.5%%)\n",
                idleSeconds, idleWatched, kFixedSockets, idleFixed);
    const Plugged one = plug(file, 1);
    const Plugged many = plug(file, kPluggedAtOnce);
    std::printf("plug to first byte, settle 0: %.3f s (goal <= 0.2 s); %d at once: %.3f s on average\n",
                one.firstByteSeconds, kPluggedAtOnce, many.firstByteSeconds);
    std::printf("paced %d KiB file, plug to last result: 1 meter %.1f s, %d meters %.1f s, ratio %.3f (goal <= 1.05); "
                "completed %d/1 and %d/%d\n",
                kib, one.allDoneSeconds, kPluggedAtOnce, many.allDoneSeconds, many.allDoneSeconds / one.allDoneSeconds,
                one.completed, many.completed, kPluggedAtOnce);
    return one.completed == 1 && many.completed == kPluggedAtOnce ? 0 : 1;
}
