#include "upgrade/UpgradeFile.h"
#include "base/FwUpErrors.h"
#include "upgrade/FileAccess.h"

namespace {
constexpr qint64 kReadChunkBytes = 64 * 1024;
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
}

bool UpgradeFile::sameVersion(const QString &a, const QString &b)
{
    const QStringList pa = a.trimmed().split(QLatin1Char('.')), pb = b.trimmed().split(QLatin1Char('.'));
    if (pa.size() != pb.size())
        return false;
    for (int i = 0; i < pa.size(); ++i) {
        bool okA = false, okB = false;
        if (pa[i].toInt(&okA) != pb[i].toInt(&okB) || !okA || !okB)
            return false;
    }
    return true;
}

QString UpgradeFile::asMeterWrites(const QString &version)
{
    QStringList parts = version.trimmed().split(QLatin1Char('.'));
    bool numeric = false;
    const int major = parts.first().toInt(&numeric);
    if (numeric && major >= 0)
        parts.first() = QString::number(major);
    return parts.join(QLatin1Char('.'));
}

bool UpgradeFile::isEndRecord(const QByteArray &line)
{
    return line.toUpper().contains(kEndRecord);
}

int UpgradeFile::lineEndChars(LineEnd end)
{
    switch (end) {
    case LineEnd::None: return 0;
    case LineEnd::CarriageReturnLineFeed: return 2;
    case LineEnd::CarriageReturn:
    case LineEnd::LineFeed: return 1;
    }
    return 0;
}

void UpgradeFile::open(const QString &path)
{
    close();
    FileAccess::openForReading(file_, path);
    size_ = file_.size();
}

void UpgradeFile::openCopy(const FileAccess::PrivateCopy &copy)
{
    close();
    copy.openReader(file_);
    size_ = file_.size();
}

void UpgradeFile::close()
{
    file_.close();
    buffer_.clear();
    pos_ = 0;
    lastEnd_ = LineEnd::None;
    tooLong_ = false;
}

void UpgradeFile::requireOpen() const
{
    if (!file_.isOpen())
        throw FwUpError(FwUpErrorNumber::FileNotOpen);
}

bool UpgradeFile::fill()
{
    if (pos_ < buffer_.size())
        return true;
    buffer_.resize(kReadChunkBytes);
    const qint64 got = file_.read(buffer_.data(), kReadChunkBytes);
    if (got < 0) {
        buffer_.clear();
        pos_ = 0;
        throw FwUpError(FwUpErrorNumber::FileIoError);
    }
    buffer_.resize(got);
    pos_ = 0;
    return got > 0;
}

char UpgradeFile::peek()
{
    return fill() ? buffer_.at(pos_) : '\0';
}

bool UpgradeFile::atEnd()
{
    requireOpen();
    return !fill();
}

QByteArray UpgradeFile::readLine()
{
    requireOpen();
    QByteArray line;
    lastEnd_ = LineEnd::None;
    tooLong_ = false;
    while (fill()) {
        const char *start = buffer_.constData() + pos_;
        const qsizetype left = buffer_.size() - pos_;
        qsizetype n = 0;
        while (n < left && start[n] != kCarriageReturn && start[n] != kLineFeed)
            ++n;
        const qsizetype room = kLongestLineChars - line.size();
        if (n > room) {
            line.append(start, room);
            pos_ += room;
            tooLong_ = true;
            return line;
        }
        line.append(start, n);
        pos_ += n;
        if (n == left)
            continue;
        const char terminator = buffer_.at(pos_++);
        lastEnd_ = terminator == kLineFeed ? LineEnd::LineFeed : LineEnd::CarriageReturn;
        if (terminator == kCarriageReturn && fill() && peek() == kLineFeed) {
            ++pos_;
            lastEnd_ = LineEnd::CarriageReturnLineFeed;
        }
        return line;
    }
    return line;  // the last line, without a terminator
}
