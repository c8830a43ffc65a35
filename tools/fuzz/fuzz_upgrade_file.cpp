// The upgrade file's line reader on any file content: the lines it yields,
// with the terminators it says it consumed, must account for every byte; no
// line may hold a carriage return or a line feed, nor be longer than the
// reader's limit.
#include "upgrade/UpgradeFile.h"
#include <QTemporaryFile>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const QByteArray kTerminators[] = {"", "\r", "\n", "\r\n"};
    const QByteArray content(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QTemporaryFile tmp;
    if (!tmp.open() || tmp.write(content) != content.size() || !tmp.flush())
        return 0;
    UpgradeFile file;
    file.open(tmp.fileName());
    if (file.size() != content.size())
        std::abort();
    qsizetype at = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.contains('\r') || line.contains('\n') || line.size() > UpgradeFile::kLongestLineChars ||
            content.mid(at, line.size()) != line)
            std::abort();
        at += line.size();
        if (file.lastLineTooLong())
            continue;  // the rest of the line comes with the next read
        const QByteArray &end = kTerminators[static_cast<int>(file.lastLineEnd())];
        if (content.mid(at, end.size()) != end || (end.isEmpty() && at != content.size()))
            std::abort();
        at += end.size();
    }
    if (at != content.size())
        std::abort();
    return 0;
}
