// The one file check on any file content: the private copy it keeps holds
// exactly the bytes read (all of them, unless a line too long to be a record
// stopped the reading), and a file it passes has every line a valid record
// and the end record last.
#include "upgrade/UpgradeImage.h"
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
    const UpgradeImage image(tmp.fileName());
    const FileCheckReport &report = image.report();
    if (!report.opened || image.errorNumber() != 0 || (report.ok && report.lineTooLong))
        std::abort();
    const std::unique_ptr<UpgradeFile> reader = image.reader();
    UpgradeFile &copy = *reader;
    QByteArray lines;
    QByteArray last;
    qint64 count = 0;
    while (!copy.atEnd()) {
        last = copy.readLine();
        ++count;
        if (report.ok && !HexRecord::parse(last).valid)
            std::abort();
    }
    if (count != image.fileLines() && !report.lineTooLong)
        std::abort();
    if (report.ok && !UpgradeFile::isEndRecord(last))
        std::abort();
    if (!report.lineTooLong && copy.size() != content.size())
        std::abort();
    return 0;
}
