#include "upgrade/HexFileCheck.h"
#include "base/FwUpErrors.h"
#include <utility>

namespace {
constexpr std::uint64_t kSegmentBytes = 0x10000;  // one 16-bit offset space
constexpr int kSegmentShiftBits = 4;
constexpr int kLinearShiftBits = 16;

QString hexAddress(std::uint64_t a)
{
    return QStringLiteral("%1").arg(a, 8, 16, QLatin1Char('0')).toUpper();
}
}

QString HexFileChecker::feed(const QByteArray &line, UpgradeFile::LineEnd end)
{
    using LineEnd = UpgradeFile::LineEnd;
    ++lines_;
    const LineEnd previous = std::exchange(previousEnd_, end);
    if (line.isEmpty() && end == LineEnd::CarriageReturnLineFeed && previous == LineEnd::CarriageReturn)
        return QStringLiteral("empty line: the line ends are CR CR LF - converted twice?");
    const HexRecord::Record r = HexRecord::parse(line);
    if (endSeen_)
        return r.valid ? QStringLiteral("a line after the end-of-file record")
                       : QStringLiteral("a line after the end-of-file record: %1").arg(r.fault);
    if (!r.valid)
        return r.fault;
    const auto word = [&] {
        return static_cast<std::uint64_t>(static_cast<unsigned char>(r.data.at(0)) << 8 |
                                          static_cast<unsigned char>(r.data.at(1)));
    };
    switch (r.type) {
    case HexRecord::EndOfFile: endSeen_ = true; return {};
    case HexRecord::ExtendedSegmentAddress:
        base_ = word() << kSegmentShiftBits;
        segmentMode_ = true;
        return {};
    case HexRecord::ExtendedLinearAddress:
        base_ = word() << kLinearShiftBits;
        segmentMode_ = false;
        return {};
    case HexRecord::Data: break;
    default: return {};  // start addresses write nothing
    }
    if (r.data.isEmpty())
        return {};
    dataBytes_ += r.data.size();
    const std::uint64_t offsetEnd = r.offset + static_cast<std::uint64_t>(r.data.size());
    if (offsetEnd <= kSegmentBytes)
        return addData(base_ + r.offset, base_ + offsetEnd);
    // The offset wraps round to the start of the same 64 KiB window.
    QString fault = addData(base_ + r.offset, base_ + kSegmentBytes);
    if (!fault.isEmpty())
        return fault;
    return addData(base_, base_ + (offsetEnd - kSegmentBytes));
}

QString HexFileChecker::addData(std::uint64_t first, std::uint64_t end)
{
    auto next = written_.upperBound(first);
    if (next != written_.begin()) {
        auto prev = std::prev(next);
        if (prev.value() > first)
            return QStringLiteral("address %1 is written twice").arg(hexAddress(first));
    }
    if (next != written_.end() && next.key() < end)
        return QStringLiteral("address %1 is written twice").arg(hexAddress(next.key()));
    // Merge with touching neighbours so the ranges stay few.
    std::uint64_t mergedFirst = first, mergedEnd = end;
    if (next != written_.end() && next.key() == end) {
        mergedEnd = next.value();
        next = written_.erase(next);
    }
    if (next != written_.begin()) {
        auto prev = std::prev(next);
        if (prev.value() == first) {
            mergedFirst = prev.key();
            written_.erase(prev);
        }
    }
    written_.insert(mergedFirst, mergedEnd);
    return {};
}

QString HexFileChecker::finish() const
{
    if (lines_ == 0)
        return QStringLiteral("the file is empty");
    if (!endSeen_)
        return QStringLiteral("no end-of-file record (%1)").arg(QString::fromLatin1(UpgradeFile::kEndRecord));
    return {};
}

QList<HexFileChecker::Range> HexFileChecker::ranges() const
{
    QList<Range> out;
    for (auto it = written_.cbegin(); it != written_.cend(); ++it)
        out.append({it.key(), it.value()});
    return out;
}
