#include "cli/MeterBoard.h"
#include "base/MonotonicClock.h"
#include "cli/Console.h"
#include <QJsonDocument>

QString resultName(MeterResult r)
{
    switch (r) {
    case MeterResult::Pending: return QStringLiteral("pending");
    case MeterResult::Completed: return QStringLiteral("completed");
    case MeterResult::Failed: return QStringLiteral("failed");
    case MeterResult::Interrupted: return QStringLiteral("interrupted");
    case MeterResult::Identified: return QStringLiteral("identified");
    case MeterResult::BootLoader: return QStringLiteral("boot_loader");
    case MeterResult::NoMeter: return QStringLiteral("no_meter");
    case MeterResult::Unreadable: return QStringLiteral("unreadable_reply");
    case MeterResult::Current: return QStringLiteral("current");
    case MeterResult::NotTouched: return QStringLiteral("not_touched");
    }
    return QStringLiteral("unknown");
}

QString resultWords(MeterResult r)
{
    switch (r) {
    case MeterResult::Interrupted: return QStringLiteral("stopped");  // on request, as history says
    case MeterResult::BootLoader: return QStringLiteral("boot loader");
    case MeterResult::NoMeter: return QStringLiteral("no meter");
    case MeterResult::Unreadable: return QStringLiteral("unreadable reply");
    case MeterResult::NotTouched: return QStringLiteral("not touched");
    default: return resultName(r);
    }
}

QString resultLine(const MeterStatus &s)
{
    if (s.message.isEmpty())
        return resultWords(s.result);
    return s.result == MeterResult::Interrupted ? s.message : resultWords(s.result) + QStringLiteral(": ") + s.message;
}

QString paintedAs(MeterResult r, const QString &text)
{
    switch (r) {
    case MeterResult::Completed:
    case MeterResult::Current: return Console::painted(text, Console::Paint::Success);
    case MeterResult::Failed: return Console::painted(text, Console::Paint::Failure);
    default: return text;
    }
}

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

void writeJsonLine(const QJsonObject &object)
{
    Console::out(jsonLine(object));
}

MeterBoard::MeterBoard(const QList<MeterAddress> &meters, bool json) : addresses_(meters), json_(json), start_(MonotonicClock::now())
{
    for (const MeterAddress &where : meters) {
        MeterStatus s;
        s.address = where;
        meters_.append(s);
    }
}

void MeterBoard::update(int index, const std::function<void(MeterStatus &)> &change)
{
    QMutexLocker hold(&mutex_);
    change(meters_[index]);
}

MeterStatus MeterBoard::at(int index) const
{
    QMutexLocker hold(&mutex_);
    return meters_.at(index);
}

QList<MeterStatus> MeterBoard::all() const
{
    QMutexLocker hold(&mutex_);
    return meters_;
}

double MeterBoard::elapsed() const
{
    return MonotonicClock::now() - start_;
}

void MeterBoard::say(int index, const QString &text)
{
    if (!tellingAlong_ || json_)
        return;
    QMutexLocker hold(&mutex_);
    const MeterStatus &s = meters_.at(index);
    said_ << QStringLiteral("%1 (%2): %3")
                 .arg(s.address.title(), s.serial.isEmpty() ? QStringLiteral("-") : s.serial, text);
}

QStringList MeterBoard::takeSaid()
{
    QMutexLocker hold(&mutex_);
    return std::exchange(said_, {});
}

void MeterBoard::event(int index, const QString &name, QJsonObject fields) const
{
    if (!json_)
        return;
    fields.insert(QStringLiteral("event"), name);
    const MeterAddress &where = addressOf(index);
    fields.insert(where.jsonKey(), where.jsonName());
    fields.insert(QStringLiteral("time"), qRound(elapsed() * 1000) / 1000.0);
    writeJsonLine(fields);
}
