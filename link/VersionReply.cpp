#include "link/VersionReply.h"

namespace VersionReply {

namespace {
constexpr char kFirstKept = ',';  // 0x2C
constexpr char kLastKept = 'Z';   // 0x5A
const QString kPrefix = QStringLiteral("V,OV");
constexpr int kDroppedPrefixChars = 2;  // "V,"
}

bool passesFilter(char c)
{
    return c >= kFirstKept && c <= kLastKept;
}

bool parse(const QByteArray &received, MeterState &meter)
{
    QString reply;
    for (char c : received)
        if (passesFilter(c))
            reply += QLatin1Char(c);
    if (!reply.startsWith(kPrefix))
        return false;
    reply = reply.mid(kDroppedPrefixChars);

    // The model character follows "OV"; a letter after it is the model letter.
    meter.Model_Code = reply.mid(2, 1);
    const QChar letter = reply.size() > 3 ? reply.at(3) : QChar();
    if (letter >= QLatin1Char('A') && letter <= QLatin1Char('Z'))
        meter.Model_Code += letter;

    const int serialEnd = reply.indexOf(QLatin1Char(','));
    if (serialEnd >= 0) {
        meter.Meter_Serial = reply.left(serialEnd);
        reply = reply.mid(serialEnd + 1);
    } else {
        reply.clear();
    }
    const int bootEnd = reply.indexOf(QLatin1Char(','));
    if (bootEnd >= 0) {
        meter.Boot_Version = reply.left(bootEnd);
        meter.Firm_Version = reply.mid(bootEnd + 1);
    } else {
        meter.Firm_Version.clear();
    }
    return true;
}

bool isBootLoaderRefusal(const QByteArray &received)
{
    QByteArray rest = received;
    rest.replace("FAIL", "").replace("\r", "").replace("\n", "");
    return rest.isEmpty() && received.contains("FAIL");
}

}
