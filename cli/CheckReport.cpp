#include "cli/CheckReport.h"
#include "base/Escaped.h"
#include "cli/Console.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeFileName.h"
#include <QJsonArray>

namespace {
QString hexAddress(std::uint64_t a)
{
    return QStringLiteral("%1").arg(a, 8, 16, QLatin1Char('0')).toUpper();
}

QString modelText(const UpgradeImage &image)
{
    const QString &model = image.modelCode();
    return model.isEmpty() ? QStringLiteral("(the name gives none: expected OV<model>_FW<version>.OVH)") : model;
}

// The version the name gives, or nothing when it does not follow the convention.
QString versionOf(const UpgradeImage &image)
{
    return UpgradeFileName::followsConvention(image.path()) ? image.versionText() : QString();
}

QString shownFaultLine(const FileCheckReport &r)
{
    return r.faultText.isEmpty() ? QStringLiteral("(empty line)") : HexRecord::shown(r.faultText);
}
}

namespace CheckReport {

QString describe(const UpgradeImage &image)
{
    const FileCheckReport &r = image.report();
    QString out = QStringLiteral("%1: good\n").arg(Escaped::text(image.path()));
    const QString version = versionOf(image);
    out += QStringLiteral("  version     %1\n")
               .arg(version.isEmpty() ? QStringLiteral("unknown (the name does not follow OV<model>_FW<version>.OVH)")
                                      : UpgradeFile::asMeterWrites(version));
    out += QStringLiteral("  model       %1\n").arg(modelText(image));
    out += QStringLiteral("  lines       %1\n").arg(r.lines);
    out += QStringLiteral("  data bytes  %1\n").arg(r.dataBytes);
    if (r.ranges.isEmpty())
        out += QStringLiteral("  addresses   none\n");
    for (int i = 0; i < r.ranges.size(); ++i)
        out += QStringLiteral("  %1 %2-%3 (%4 bytes)\n")
                   .arg(i == 0 ? QStringLiteral("addresses  ") : QStringLiteral("           "))
                   .arg(hexAddress(r.ranges[i].first), hexAddress(r.ranges[i].end - 1))
                   .arg(r.ranges[i].end - r.ranges[i].first);
    return out;
}

QString describeFault(const QString &command, const UpgradeImage &image)
{
    const FileCheckReport &r = image.report();
    const QString who = QStringLiteral("ovfw %1: %2").arg(command, Escaped::text(image.path()));
    if (!r.opened || !r.openError.isEmpty())
        return r.openErrorNumber != 0
                   ? QStringLiteral("%1: cannot be read: %2 (error %3)\n").arg(who, r.openErrorText).arg(r.openErrorNumber)
                   : QStringLiteral("%1: cannot be read: %2\n").arg(who, r.openError);
    if (r.faultText.isEmpty() && (r.faultLine == 0 || r.fault.startsWith(QLatin1String("no end-of-file"))))
        return QStringLiteral("%1: %2\n").arg(who, r.fault);
    return QStringLiteral("%1: line %2: %3\n  %4\n").arg(who, QString::number(r.faultLine), r.fault, shownFaultLine(r));
}

QJsonObject toJson(const UpgradeImage &image)
{
    const FileCheckReport &r = image.report();
    const QString version = versionOf(image);
    QJsonObject o{{QStringLiteral("event"), QStringLiteral("check")},
                  {QStringLiteral("file"), image.path()},
                  {QStringLiteral("ok"), r.ok},
                  {QStringLiteral("version"), version.isEmpty() ? QJsonValue() : QJsonValue(version)},
                  {QStringLiteral("model"), image.modelCode()},
                  {QStringLiteral("lines"), r.lines},
                  {QStringLiteral("data_bytes"), r.dataBytes}};
    if (!r.ok) {
        o.insert(QStringLiteral("fault"), r.openError.isEmpty() ? r.fault : r.openError);
        o.insert(QStringLiteral("fault_line"), r.faultLine);
        o.insert(QStringLiteral("fault_text"), HexRecord::shown(r.faultText));
    }
    QJsonArray ranges;
    for (const auto &range : r.ranges)
        ranges.append(QJsonObject{{QStringLiteral("first"), hexAddress(range.first)},
                                  {QStringLiteral("last"), hexAddress(range.end - 1)}});
    o.insert(QStringLiteral("ranges"), ranges);
    return o;
}

void warnAboutName(const QString &command, const QString &path)
{
    if (!UpgradeFileName::followsConvention(path))
        Console::err(QStringLiteral("ovfw %1: warning: %2 does not follow OV<model>_FW<3 or 4 digits>.OVH; the version "
                                    "cannot be told from its name\n")
                         .arg(command, Escaped::text(path)));
}

}
