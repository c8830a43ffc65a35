// A hopeless line: one paced meter behind heavy noise (by default a bit-error
// rate of 3e-3 each way, as a broken cable gives), upgraded by ovfw with
// --retries 1000. It must give up within a minute, with exit status 1 and the
// line-quality stop's reason, whatever the retries allow.
// Run by hand: ./build/tools/benchmarks/ovfw_bench_hopeless_line [--kib 16] [--noise 3e-3] [--seeds 3,1,2]
#include "BenchSupport.h"
#include "base/MonotonicClock.h"
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

namespace {
constexpr int kRecordBytes = 32;
constexpr double kGoalSeconds = 60;
constexpr int kMostSecondsPerRun = 900;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int kib = 16;
    QString noise = QStringLiteral("3e-3");
    QStringList seeds{QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("2")};
    const QStringList a = app.arguments();
    for (int i = 1; i + 1 < a.size(); i += 2) {
        if (a[i] == QLatin1String("--kib")) kib = a[i + 1].toInt();
        else if (a[i] == QLatin1String("--noise")) noise = a[i + 1];
        else if (a[i] == QLatin1String("--seeds")) seeds = a[i + 1].split(QLatin1Char(','));
    }
    QTemporaryDir work;
    const QString file = BenchSupport::makeHexFile(work.path(), QStringLiteral("OV3A_FW0211.OVH"),
                                                   qint64(kib) * 1024, kRecordBytes);
    if (file.isEmpty())
        return 2;
    bool allMet = true;
    for (const QString &seed : seeds) {
        QProcess meter;
        const QString device = BenchSupport::startEmulator(meter, {QStringLiteral("--noise"), noise,
                                                                   QStringLiteral("--seed"), seed});
        QProcess ovfw;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OVFW_HISTORY"), work.filePath(QStringLiteral("history.sqlite")));
        ovfw.setProcessEnvironment(env);
        const double t0 = MonotonicClock::now();
        ovfw.start(QStringLiteral(OV_OVFW_PATH), {QStringLiteral("upgrade"), file, QStringLiteral("--yes"),
                                                 QStringLiteral("--device"), device, QStringLiteral("--retries"),
                                                 QStringLiteral("1000"), QStringLiteral("--json")});
        ovfw.waitForFinished(kMostSecondsPerRun * 1000);
        const double seconds = MonotonicClock::now() - t0;
        BenchSupport::stopEmulator(meter);
        QString message;
        for (const QByteArray &line : ovfw.readAllStandardOutput().split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            if (e.value(QStringLiteral("event")).toString() == QLatin1String("result"))
                message = e.value(QStringLiteral("result")).toString() + QStringLiteral(": ") +
                          e.value(QStringLiteral("message")).toString();
        }
        const bool met = seconds < kGoalSeconds && ovfw.exitCode() == 1;
        allMet = allMet && met;
        std::printf("%d KiB, noise %s, seed %s: %.1f s, exit %d (goal < %.0f s, exit 1: %s)\n  %s\n", kib,
                    qPrintable(noise), qPrintable(seed), seconds, ovfw.exitCode(), kGoalSeconds, met ? "pass" : "MISS",
                    qPrintable(message));
    }
    return allMet ? 0 : 1;
}
