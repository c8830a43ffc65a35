// The meter's version reply parser, fed any bytes the line may carry.
#include "link/VersionReply.h"
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray received(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    MeterState g;
    g.Meter_Serial = QStringLiteral("unchanged");
    const bool valid = VersionReply::parse(received, g);
    QByteArray kept;
    for (char c : received)
        if (VersionReply::passesFilter(c))
            kept += c;
    if (valid != kept.startsWith("V,OV"))
        std::abort();
    if (!valid && (g.Meter_Serial != QLatin1String("unchanged") || !g.Model_Code.isEmpty()))
        std::abort();
    if (valid && (g.Model_Code.size() > 2 || g.Firm_Version.contains(QLatin1Char('\r'))))
        std::abort();
    return 0;
}
