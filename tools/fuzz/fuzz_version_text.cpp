// The version text taken from a file name by position: any path gives a
// text of two characters, a dot and two characters, or less for a short one.
#include "upgrade/UpgradeFileName.h"
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QString text = UpgradeFileName::versionText(path);
    if (text.size() > 5 || text.indexOf(QLatin1Char('.')) < 0)
        std::abort();
    if (path.size() >= 8 && (text.size() != 5 || text.at(2) != QLatin1Char('.')))
        std::abort();
    return 0;
}
