#include "upgrade/UpgradeFile.h"
#include "base/FwUpErrors.h"
#include <QFileInfo>

namespace {
constexpr qint64 kReadChunkBytes = 64 * 1024;
constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr int kVersionFieldChars = 4;  // the four characters before ".OVH"
constexpr int kTailChars = 8;          // version field and extension
}

QString UpgradeFile::dialogFilter(const QString &modelCode)
{
    return QStringLiteral("Firmware Upgrade Files (*.OVH)|OV%1_FW*.OVH").arg(modelCode);
}

QString UpgradeFile::versionText(const QString &path)
{
    const QString tail = path.right(kTailChars);
    QString field = tail.left(kVersionFieldChars);
    if (field.left(1).toUpper() == QLatin1String("W"))
        field = QLatin1Char(' ') + field.right(kVersionFieldChars - 1);
    return field.left(2) + QLatin1Char('.') + field.right(2);
}

bool UpgradeFile::isEndRecord(const QByteArray &line)
{
    return line.contains(kEndRecord);
}

void UpgradeFile::open(const QString &path)
{
    close();
    const QFileInfo info(path);
    if (!info.exists())
        throw FwUpError(FwUpErrorNumber::FileNotFound);
    if (info.isDir())
        throw FwUpError(FwUpErrorNumber::FileAccessDenied);
    file_.setFileName(path);
    if (!file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw FwUpError(info.exists() ? FwUpErrorNumber::FileAccessDenied : FwUpErrorNumber::FileNotFound);
    size_ = file_.size();
}

void UpgradeFile::close()
{
    file_.close();
    buffer_.clear();
    pos_ = 0;
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
    while (fill()) {
        const qsizetype cr = buffer_.indexOf(kCarriageReturn, pos_);
        if (cr < 0) {
            line.append(buffer_.constData() + pos_, buffer_.size() - pos_);
            pos_ = buffer_.size();
            continue;
        }
        line.append(buffer_.constData() + pos_, cr - pos_);
        pos_ = cr + 1;
        if (fill() && peek() == kLineFeed)
            ++pos_;
        return line;
    }
    return line;  // the last line, without a terminator
}
