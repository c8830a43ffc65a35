#include "cli/StationBoard.h"
#include "base/Escaped.h"
#include "cli/MeterOutput.h"
#include "station/StationProfile.h"
#include "upgrade/UpgradeFile.h"

namespace {
constexpr int kSocketColumn = 10;
constexpr int kSerialColumn = 12;

QString state(const MeterStatus &s, double now)
{
    switch (s.result) {
    case MeterResult::Pending: break;
    case MeterResult::Completed: return paintedAs(s.result, QStringLiteral("done: ") + s.message);
    case MeterResult::Current: return paintedAs(s.result, QStringLiteral("current: ") + s.message);
    case MeterResult::NotTouched: return QStringLiteral("not touched: ") + s.message;
    case MeterResult::NoMeter: return QStringLiteral("empty");
    case MeterResult::Failed: return paintedAs(s.result, QStringLiteral("FAILED: ") + s.message);  // stands out in a column of done
    default: return resultLine(s);
    }
    if (s.phase != QLatin1String("sending"))
        return s.phase;
    const int percent = s.totalLines > 0 ? static_cast<int>(100 * s.lines / s.totalLines) : 0;
    const double elapsed = now - s.transferStartedAt;
    const QString left = s.lines > 0 ? MeterOutput::clock(elapsed * double(s.totalLines - s.lines) / double(s.lines))
                                     : QStringLiteral("-:--");
    return QStringLiteral("upgrading %1%, %2 left").arg(percent).arg(left);
}
}

StationBoard::StationBoard(const StationProfile &profile) : profile_(profile) {}

void StationBoard::count(const MeterStatus &done)
{
    QMutexLocker hold(&mutex_);
    switch (done.result) {
    case MeterResult::Completed: ++upgraded_; break;
    case MeterResult::Current: ++current_; break;
    case MeterResult::NotTouched: ++notTouched_; break;
    case MeterResult::Interrupted:
        if (done.leftInBootLoader != false)
            ++interrupted_;
        break;
    case MeterResult::NoMeter: return;
    default: ++failed_; break;
    }
    finished_.append(done);
}

QString StationBoard::counters() const
{
    QMutexLocker hold(&mutex_);
    return QStringLiteral("upgraded %1, current %2, failed %3, not touched %4")
        .arg(upgraded_)
        .arg(current_)
        .arg(failed_)
        .arg(notTouched_);
}

QJsonObject StationBoard::counts() const
{
    QMutexLocker hold(&mutex_);
    return {{QStringLiteral("upgraded"), upgraded_},
            {QStringLiteral("current"), current_},
            {QStringLiteral("failed"), failed_},
            {QStringLiteral("not_touched"), notTouched_}};
}

bool StationBoard::anyFailed() const
{
    QMutexLocker hold(&mutex_);
    return failed_ > 0;
}

bool StationBoard::anyInterrupted() const
{
    QMutexLocker hold(&mutex_);
    return interrupted_ > 0;
}

QList<MeterStatus> StationBoard::finished() const
{
    QMutexLocker hold(&mutex_);
    return finished_;
}

QStringList StationBoard::heading() const
{
    QStringList models;
    for (const StationFirmware &f : profile_.firmware)
        models << QStringLiteral("%1 %2").arg(f.model, UpgradeFile::asMeterWrites(f.version));
    return {QStringLiteral("station %1: %2").arg(Escaped::text(profile_.name), models.join(QStringLiteral(", "))),
            counters()};
}

QString StationBoard::socketLine(const QString &socket, const MeterStatus *meter, double now)
{
    const QString serial = meter && !meter->serial.isEmpty() ? Escaped::text(meter->serial) : QStringLiteral("-");
    return QStringLiteral("%1  %2  %3")
        .arg(Escaped::text(socket), -kSocketColumn)
        .arg(serial, -kSerialColumn)
        .arg(meter ? state(*meter, now) : QStringLiteral("empty"));
}
