#include "MeterEmulatorProcess.h"
#include <QFile>

namespace {
constexpr int kStartTimeoutMs = 5000;
constexpr int kStopTimeoutMs = 3000;
}

MeterEmulatorProcess::MeterEmulatorProcess(const QStringList &arguments)
{
    QStringList args = arguments;
    args << QStringLiteral("--log") << dir_.filePath(QStringLiteral("wire.log"));
    if (!arguments.contains(QStringLiteral("--image")))
        args << QStringLiteral("--image") << imagePath();
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(OV_METER_EMULATOR_PATH), args);
    if (!process_.waitForStarted(kStartTimeoutMs))
        return;
    while (!process_.canReadLine() && process_.waitForReadyRead(kStartTimeoutMs)) {
    }
    device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
}

MeterEmulatorProcess::~MeterEmulatorProcess()
{
    stop();
}

void MeterEmulatorProcess::stop()
{
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(kStopTimeoutMs))
        process_.kill();
    process_.waitForFinished(kStopTimeoutMs);
}

QList<MeterEmulatorProcess::Burst> MeterEmulatorProcess::wire() const
{
    QList<Burst> out;
    QFile f(dir_.filePath(QStringLiteral("wire.log")));
    if (!f.open(QIODevice::ReadOnly))
        return out;
    while (!f.atEnd()) {
        const QList<QByteArray> fields = f.readLine().trimmed().split(' ');
        if (fields.size() < 3)
            continue;
        Burst b{fields[0].toDouble(), fields[1] == "rx", {}};
        for (int i = 2; i < fields.size(); ++i)
            b.bytes.append(static_cast<char>(fields[i].toInt(nullptr, 16)));
        out << b;
    }
    return out;
}

QList<MeterEmulatorProcess::Burst> MeterEmulatorProcess::wireMessages() const
{
    // Split at carriage returns: one message per command or reply, stamped
    // with the time its first byte was seen.
    QList<Burst> messages;
    bool open = false;
    for (const Burst &b : wire()) {
        for (char c : b.bytes) {
            if (!open || messages.last().toMeter != b.toMeter) {
                messages << Burst{b.seconds, b.toMeter, {}};
                open = true;
            }
            messages.last().bytes += c;
            if (c == '\r')
                open = false;
        }
    }
    return messages;
}

QByteArray MeterEmulatorProcess::bytes(bool toMeter) const
{
    QByteArray out;
    for (const Burst &b : wire())
        if (b.toMeter == toMeter)
            out += b.bytes;
    return out;
}

QList<MeterEmulatorProcess::Burst> MeterEmulatorProcess::receivedMessages() const
{
    QList<Burst> out;
    for (const Burst &m : wireMessages())
        if (m.toMeter)
            out << m;
    return out;
}

QList<QByteArray> MeterEmulatorProcess::receivedMessageBytes() const
{
    QList<QByteArray> out;
    for (const Burst &m : receivedMessages())
        out << m.bytes;
    return out;
}

PortHolderProcess::PortHolderProcess(const QString &device)
{
    process_.start(QStringLiteral(OV_PORT_HOLDER_PATH), {device});
    if (process_.waitForStarted(kStartTimeoutMs) && process_.waitForReadyRead(kStartTimeoutMs))
        holding_ = process_.readLine().trimmed() == "holding";
}

PortHolderProcess::~PortHolderProcess()
{
    process_.closeWriteChannel();  // the holder ends when its input closes
    if (!process_.waitForFinished(kStopTimeoutMs))
        process_.kill();
    process_.waitForFinished(kStopTimeoutMs);
}
