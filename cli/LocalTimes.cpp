#include "cli/LocalTimes.h"
#include <cstdlib>

namespace {
int systemOffsetSecondsAt(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime).offsetFromUtc();
}

// Digits at s[from, from + count) as a number, or -1.
int digitsAt(const QString &s, int from, int count)
{
    int n = 0;
    for (int i = from; i < from + count; ++i) {
        const char16_t c = s[i].unicode();
        if (c < u'0' || c > u'9')
            return -1;
        n = n * 10 + (c - u'0');
    }
    return n;
}

// The instant of a time as the store writes it, read without the general
// parser; other shapes (older rows, hand-made ones) go to Qt's.
QDateTime utcOf(const QString &utc)
{
    static const QString kShape = QStringLiteral("0000-00-00T00:00:00.000Z");
    if (utc.size() == kShape.size() && utc[4] == u'-' && utc[7] == u'-' && utc[10] == u'T' && utc[13] == u':' &&
        utc[16] == u':' && utc[19] == u'.' && utc[23] == u'Z') {
        const QDate date(digitsAt(utc, 0, 4), digitsAt(utc, 5, 2), digitsAt(utc, 8, 2));
        const QTime time(digitsAt(utc, 11, 2), digitsAt(utc, 14, 2), digitsAt(utc, 17, 2), digitsAt(utc, 20, 3));
        if (date.isValid() && time.isValid())
            return QDateTime(date, time, Qt::UTC);
    }
    return QDateTime::fromString(utc, Qt::ISODateWithMs).toUTC();
}
}

int LocalTimes::offsetSecondsAt(qint64 utcMs)
{
    const qint64 bucket = utcMs >= 0 ? utcMs / kBucketMs : (utcMs - kBucketMs + 1) / kBucketMs;
    auto known = offsets_.constFind(bucket);
    if (known == offsets_.cend()) {
        // Settled when the day begins and ends at one offset: no zone changes
        // its clocks twice in a day. A day of change asks for each time.
        const int first = systemOffsetSecondsAt(bucket * kBucketMs);
        const int last = systemOffsetSecondsAt(bucket * kBucketMs + kBucketMs - 1);
        known = offsets_.insert(bucket, first == last ? first : kUnsettled);
    }
    return *known != kUnsettled ? *known : systemOffsetSecondsAt(utcMs);
}

QDateTime LocalTimes::local(const QString &utc)
{
    QDateTime instant = utcOf(utc);
    if (!instant.isValid())
        return instant;
    const qint64 ms = instant.toMSecsSinceEpoch();
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSecondsAt(ms));
}

QString LocalTimes::iso(const QString &utc)
{
    const QDateTime t = utc.isEmpty() ? QDateTime() : local(utc);
    const QDate date = t.date();
    if (!t.isValid() || date.year() < 1000 || date.year() > 9999)
        return t.toString(Qt::ISODateWithMs);
    // Written out by hand, as Qt's ISODateWithMs writes it: a long listing
    // spends much of its time here.
    QString out;
    out.reserve(29);
    const auto number = [&out](int n, int width) {
        for (int unit = width == 4 ? 1000 : width == 3 ? 100 : 10; unit > 0; unit /= 10)
            out += QChar(u'0' + n / unit % 10);
    };
    const QTime time = t.time();
    number(date.year(), 4), out += u'-', number(date.month(), 2), out += u'-', number(date.day(), 2);
    out += u'T';
    number(time.hour(), 2), out += u':', number(time.minute(), 2), out += u':', number(time.second(), 2);
    out += u'.', number(time.msec(), 3);
    const int offset = t.offsetFromUtc();
    if (offset == 0)
        return out += u'Z';
    out += offset < 0 ? u'-' : u'+';
    number(std::abs(offset) / 3600, 2), out += u':', number(std::abs(offset) / 60 % 60, 2);
    return out;
}
