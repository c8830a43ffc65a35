#include "BenchSupport.h"
#include <algorithm>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <ctime>
#include <unistd.h>

namespace BenchSupport {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

namespace {
constexpr int kStartTimeoutMs = 5000;
constexpr int kToolTimeoutMs = 120000;
constexpr int kRecordOverheadChars = 11;  // ':', count, address, type, checksum
}

QString startEmulator(QProcess &process, const QStringList &args)
{
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(OV_METER_EMULATOR_PATH), args);
    if (!process.waitForStarted(kStartTimeoutMs))
        return {};
    while (!process.canReadLine() && process.waitForReadyRead(kStartTimeoutMs)) {
    }
    return QString::fromLocal8Bit(process.readLine()).trimmed();
}

void stopEmulator(QProcess &process)
{
    process.terminate();
    process.waitForFinished(kStartTimeoutMs);
}

double ownCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double processCpuSeconds(qint64 pid)
{
    // Nanoseconds from schedstat where the kernel keeps it, else clock ticks.
    QFile schedstat(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (schedstat.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const double ns = schedstat.readAll().split(' ').value(0).toDouble(&ok);
        if (ok)
            return ns / 1e9;
    }
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the parenthesised command name; utime and stime are 14 and 15.
    const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return (f.value(11).toDouble() + f.value(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

long peakResidentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

QString makeHexFile(const QString &dir, const QString &name, qint64 dataBytes, int recordBytes)
{
    QByteArray data(dataBytes, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), dataBytes / 4);
    const QString bin = QDir(dir).filePath(name + QStringLiteral(".data"));
    const QString lf = QDir(dir).filePath(name + QStringLiteral(".lf"));
    QFile b(bin);
    if (!b.open(QIODevice::WriteOnly) || b.write(data) != data.size())
        return {};
    b.close();
    QProcess srec;
    srec.start(QStringLiteral("srec_cat"),
               {bin, "-binary", "-o", lf, "-intel",
                QStringLiteral("-line-length=%1").arg(kRecordOverheadChars + 2 * recordBytes)});
    if (!srec.waitForFinished(kToolTimeoutMs) || srec.exitCode() != 0)
        return {};
    QFile in(lf);
    if (!in.open(QIODevice::ReadOnly))
        return {};
    QByteArray text = in.readAll();
    text.replace("\r\n", "\n");
    text.replace("\n", "\r\n");
    QString path = QDir(dir).filePath(name);
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
        return {};
    return path;
}

MsgAnswer AnsweringPrompts::MsgBox(const Question &question)
{
    shown << question.text;
    switch (question.style & MsgStyle::ButtonsMask) {
    case MsgStyle::RetryCancel: return ++retries_ <= kMaxRetries ? MsgAnswer::Retry : MsgAnswer::Cancel;
    case MsgStyle::AbortRetryIgnore: return MsgAnswer::Abort;
    default: return MsgAnswer::OK;
    }
}

}
