#include "SampleMeters.h"
#include <QFile>

namespace {
constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 3000;
constexpr int kRecordDataBytes = 32;
constexpr int kRecordTypeData = 0;

QByteArray hexRecord(int address, int type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(static_cast<char>(data.size()));
    bytes.append(static_cast<char>((address >> 8) & 0xFF));
    bytes.append(static_cast<char>(address & 0xFF));
    bytes.append(static_cast<char>(type));
    bytes.append(data);
    int sum = 0;
    for (const char b : bytes)
        sum += static_cast<unsigned char>(b);
    bytes.append(static_cast<char>((0x100 - (sum & 0xFF)) & 0xFF));
    return ':' + bytes.toHex().toUpper() + "\r\n";
}
}

namespace SampleMeters {

Meter::Meter(const QString &emulator, const QStringList &arguments)
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(emulator, arguments);
    if (!process_.waitForStarted(kStartTimeoutMs))
        return;
    while (!process_.canReadLine() && process_.waitForReadyRead(kStartTimeoutMs)) {
    }
    device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
}

Meter::~Meter()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(kStopTimeoutMs))
        process_.kill();
    process_.waitForFinished(kStopTimeoutMs);
}

bool writeUpgradeFile(const QString &path, int dataBytes)
{
    QByteArray text;
    for (int address = 0; address < dataBytes; address += kRecordDataBytes) {
        QByteArray data;
        for (int i = 0; i < kRecordDataBytes; ++i)
            data.append(static_cast<char>((address + i) * 7 % 251));
        text += hexRecord(address, kRecordTypeData, data);
    }
    text += ":00000001FF\r\n";
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

QStringList identity(const QString &model, const QString &number, const QString &firmware)
{
    return {QStringLiteral("--identity"), QStringLiteral("V,OV%1%2,1.02,%3").arg(model, number, firmware)};
}

} // namespace SampleMeters
