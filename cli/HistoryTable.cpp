#include "cli/HistoryTable.h"
#include "base/Escaped.h"
#include <QDateTime>
#include <QStringList>

namespace {
QDateTime local(const QString &utc)
{
    return QDateTime::fromString(utc, Qt::ISODateWithMs).toLocalTime();
}

QString linesText(const AttemptRecord &r)
{
    return r.linesTotal >= 0 ? QStringLiteral("%1/%2").arg(r.linesSent).arg(r.linesTotal) : QString::number(r.linesSent);
}

QString versionsText(const AttemptRecord &r)
{
    const QString from = r.firmwareVersion.isEmpty() ? QStringLiteral("?") : r.firmwareVersion;
    return QStringLiteral("%1 -> %2").arg(from, r.targetVersion.isEmpty() ? QStringLiteral("?") : r.targetVersion);
}

QString orDash(const QString &s)
{
    return s.isEmpty() ? QStringLiteral("-") : s;
}

// A text cell, quoted when it must be (RFC 4180). One that a spreadsheet
// would take for a formula (a meter's reply, a file name) is quoted with a
// ' before it, which the spreadsheet shows as text.
QString csvField(const QString &s)
{
    static const QString kFormulaStarts = QStringLiteral("=+-@\t\r");
    const bool formula = !s.isEmpty() && kFormulaStarts.contains(s.front());
    if (!formula && !s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
        !s.contains(QLatin1Char('\r')))
        return s;
    QString quoted = formula ? QLatin1Char('\'') + s : s;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// One line of the table, each column padded to its width; put together
// without QString::arg, so a field that reads "%1" stays as it is.
QString tableLine(const QStringList &cells)
{
    static const int kWidths[] = {-19, -6, 4, -12, -5, -16, -11, 0};  // negative: left-aligned
    QString line;
    for (int i = 0; i < cells.size(); ++i) {
        const int width = kWidths[i];
        if (i > 0)
            line += QStringLiteral("  ");
        line += width < 0 ? cells[i].leftJustified(-width) : cells[i].rightJustified(width);
    }
    return line + QLatin1Char('\n');
}

const QStringList kCsvColumns = {
    QStringLiteral("id"), QStringLiteral("started"), QStringLiteral("ended"), QStringLiteral("face"),
    QStringLiteral("host"), QStringLiteral("user"), QStringLiteral("port"), QStringLiteral("device"),
    QStringLiteral("serial"), QStringLiteral("model"), QStringLiteral("boot_version"),
    QStringLiteral("firmware_version"), QStringLiteral("found_in_boot_loader"), QStringLiteral("file_path"),
    QStringLiteral("file_size"), QStringLiteral("file_sha256"), QStringLiteral("target_version"),
    QStringLiteral("outcome"), QStringLiteral("error_number"), QStringLiteral("error_text"),
    QStringLiteral("lines_sent"), QStringLiteral("lines_total"), QStringLiteral("retries"),
    QStringLiteral("refused_line"), QStringLiteral("left_in_boot_loader"), QStringLiteral("firmware_after"),
    QStringLiteral("verified"), QStringLiteral("real_device"), QStringLiteral("usb_serial"),
    QStringLiteral("station"), QStringLiteral("operator"), QStringLiteral("socket"), QStringLiteral("profile_sha256"),
    QStringLiteral("uuid")};
}

QString HistoryTable::localIso(const QString &utc)
{
    return utc.isEmpty() ? QString() : local(utc).toOffsetFromUtc(local(utc).offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString HistoryTable::table(const QList<AttemptRecord> &rows, bool failedOnly)
{
    if (rows.isEmpty())
        return failedOnly ? QStringLiteral("No failed upgrade recorded.\n") : QStringLiteral("No upgrade recorded.\n");
    QString out = tableLine({QStringLiteral("STARTED"), QStringLiteral("FACE"), QStringLiteral("PORT"),
                             QStringLiteral("SERIAL"), QStringLiteral("MODEL"), QStringLiteral("FIRMWARE"),
                             QStringLiteral("LINES"), QStringLiteral("OUTCOME")});
    for (const AttemptRecord &r : rows) {
        QString outcome = r.outcome;
        if (r.errorNumber != 0 || !r.errorText.isEmpty())
            outcome += QStringLiteral(": ") +
                       (r.errorNumber != 0 ? QStringLiteral("%1 %2").arg(QString::number(r.errorNumber), r.errorText)
                                           : r.errorText);
        else if (r.refusedLine > 0)
            outcome += QStringLiteral(": line %1 refused").arg(r.refusedLine);
        if (r.verified >= 0)
            outcome += r.verified ? QStringLiteral(", verified %1").arg(r.firmwareAfter)
                                  : QStringLiteral(", NOT verified (%1)").arg(orDash(r.firmwareAfter));
        if (r.leftInBootLoader == true)
            outcome += QStringLiteral(" (in boot loader on %1)").arg(r.device);
        else if (!r.leftInBootLoader && r.outcome != HistoryOutcome::Running)
            outcome += QStringLiteral(" (may be in boot loader on %1)").arg(r.device);
        // Every field may come from a shared history anyone of the group
        // writes: none reaches the terminal as it is.
        out += tableLine({local(r.startedUtc).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Escaped::text(r.face),
                          r.port > 0 ? QString::number(r.port) : Escaped::text(orDash(r.socket)), Escaped::text(orDash(r.serial)), Escaped::text(orDash(r.model)),
                          Escaped::text(versionsText(r)), linesText(r), Escaped::text(outcome)});
    }
    return out;
}

QJsonObject HistoryTable::json(const AttemptRecord &r)
{
    const auto text = [](const QString &s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
    return {{QStringLiteral("id"), r.id},
            {QStringLiteral("started"), localIso(r.startedUtc)},
            {QStringLiteral("ended"), text(localIso(r.endedUtc))},
            {QStringLiteral("face"), r.face},
            {QStringLiteral("host"), r.host},
            {QStringLiteral("user"), r.user},
            {QStringLiteral("pid"), r.pid},
            {QStringLiteral("port"), r.port > 0 ? QJsonValue(r.port) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("device"), r.device},
            {QStringLiteral("serial"), text(r.serial)},
            {QStringLiteral("model"), text(r.model)},
            {QStringLiteral("boot_version"), text(r.bootVersion)},
            {QStringLiteral("firmware_version"), text(r.firmwareVersion)},
            {QStringLiteral("found_in_boot_loader"), r.foundInBootLoader},
            {QStringLiteral("file_path"), r.filePath},
            {QStringLiteral("file_size"), r.fileSize},
            {QStringLiteral("file_sha256"), text(r.fileSha256)},
            {QStringLiteral("target_version"), text(r.targetVersion)},
            {QStringLiteral("outcome"), r.outcome},
            {QStringLiteral("error_number"), r.errorNumber},
            {QStringLiteral("error_text"), text(r.errorText)},
            {QStringLiteral("lines_sent"), r.linesSent},
            {QStringLiteral("lines_total"), r.linesTotal},
            {QStringLiteral("retries"), r.retries},
            {QStringLiteral("refused_line"), r.refusedLine},
            {QStringLiteral("left_in_boot_loader"), r.leftInBootLoader ? QJsonValue(*r.leftInBootLoader) : QJsonValue()},
            {QStringLiteral("firmware_after"), text(r.firmwareAfter)},
            {QStringLiteral("verified"), r.verified < 0 ? QJsonValue() : QJsonValue(r.verified == 1)},
            {QStringLiteral("real_device"), text(r.realDevice)},
            {QStringLiteral("usb_serial"), text(r.usbSerial)},
            {QStringLiteral("station"), text(r.station)},
            {QStringLiteral("operator"), text(r.operatorName)},
            {QStringLiteral("socket"), text(r.socket)},
            {QStringLiteral("profile_sha256"), text(r.profileSha256)},
            {QStringLiteral("uuid"), text(r.uuid)}};
}

QString HistoryTable::csvHeader()
{
    return kCsvColumns.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

QString HistoryTable::csvRow(const AttemptRecord &r)
{
    const QJsonObject o = json(r);
    QStringList fields;
    for (const QString &c : kCsvColumns) {
        const QJsonValue v = o.value(c);
        if (v.isBool())
            fields << (v.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
        else if (v.isDouble())
            fields << QString::number(v.toInteger());  // a number, even a negative one, stays one
        else
            fields << csvField(v.toString());
    }
    return fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}
