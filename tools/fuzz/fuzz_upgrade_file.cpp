// The upgrade file's line reader on any file content: the lines it yields,
// with the terminators it consumed, must account for every byte, and no line
// may hold a carriage return.
#include "upgrade/UpgradeFile.h"
#include <QTemporaryFile>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
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
        if (line.contains('\r') || content.mid(at, line.size()) != line)
            std::abort();
        at += line.size();
        if (at < content.size()) {
            if (content.at(at) != '\r')
                std::abort();
            ++at;
            if (at < content.size() && content.at(at) == '\n')
                ++at;
        }
    }
    if (at != content.size())
        std::abort();
    return 0;
}
