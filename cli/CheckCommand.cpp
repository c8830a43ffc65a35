// `ovfw check FILE`: the upgrade file judged without touching a meter.
#include "cli/CheckReport.h"
#include "cli/CommandLine.h"
#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/MeterBoard.h"
#include "upgrade/UpgradeImage.h"

int runCheck(const QStringList &args)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Checks an upgrade file without touching a meter: every line, as the transfer\n"
        "reads it, must be a well-formed Intel HEX record (':' and hex pairs, a byte count\n"
        "that matches, a correct checksum, record types 00 to 05); the end-of-file record\n"
        "must come once and last, and no address may be written twice. Prints the version\n"
        "and model the name gives, the line count, the data bytes, the address ranges\n"
        "and the file's SHA-256 digest (for `ovfw upgrade --sha256`).\n"
        "Exit status 0 when the file is good, 2 when it is not (or on a usage error)."));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The upgrade file (OV<model>_FW<version>.OVH)."));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("The report as one JSON object (the check event)."));
    parser.addOption(json);
    const int status = CommandLine::parse(parser, args, true);
    if (status >= 0)
        return status;
    const QString path = parser.positionalArguments().first();
    CheckReport::warnAboutName(QStringLiteral("check"), path);
    // Read once: the digest printed is that of the bytes checked.
    const UpgradeImage image(path, UpgradeImage::Keep::NoCopy);
    const FileCheckReport &report = image.report();
    if (parser.isSet(json)) {
        QJsonObject object = CheckReport::toJson(image);
        if (report.ok)
            object.insert(QStringLiteral("sha256"), image.sha256());
        writeJsonLine(object);
    } else if (report.ok) {
        Console::out(CheckReport::describe(image) + QStringLiteral("SHA-256: %1\n").arg(image.sha256()));
    }
    if (!report.ok)
        Console::err(CheckReport::describeFault(QStringLiteral("check"), image));
    return report.ok ? ExitStatus::Ok : ExitStatus::Usage;
}
