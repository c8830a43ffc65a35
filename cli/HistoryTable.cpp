#include "cli/HistoryTable.h"
#include "base/Escaped.h"
#include "cli/LocalTimes.h"
#include "upgrade/UpgradeFile.h"
#include <QHash>
#include <variant>
#include <QStringList>

namespace {
QString linesText(const AttemptRecord &r)
{
    return r.linesTotal >= 0 ? QStringLiteral("%1/%2").arg(r.linesSent).arg(r.linesTotal) : QString::number(r.linesSent);
}

QString versionsText(const AttemptRecord &r)
{
    const auto version = [](const QString &v) {
        return v.trimmed().isEmpty() ? QStringLiteral("?") : UpgradeFile::asMeterWrites(v);
    };
    return QStringLiteral("%1 -> %2").arg(version(r.firmwareVersion), version(r.targetVersion));
}

// An outcome in words; the labels stay in JSON and CSV.
QString outcomeWords(const QString &outcome)
{
    static const QHash<QString, QString> kWords = {
        {HistoryOutcome::UnexpectedEnd, QStringLiteral("unexpected end")},
        {HistoryOutcome::NotSwitched, QStringLiteral("not switched")},
        {HistoryOutcome::Stopped, QStringLiteral("stopped on request")},
        {HistoryOutcome::EndUnconfirmed, QStringLiteral("end unconfirmed")},
        {HistoryOutcome::ModelMismatch, QStringLiteral("model mismatch")},
        {HistoryOutcome::ModelUnknown, QStringLiteral("model unknown")},
        {HistoryOutcome::FileRefused, QStringLiteral("file refused")},
        {HistoryOutcome::NoFirmware, QStringLiteral("no firmware")},
        {HistoryOutcome::Restarted, QStringLiteral("meter restarted")},
        {HistoryOutcome::Interrupted, QStringLiteral("unfinished: its run ended")},
    };
    return kWords.value(outcome, outcome);
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

}

QString HistoryTable::table(const QList<AttemptRecord> &rows, bool failedOnly)
{
    LocalTimes times;
    if (rows.isEmpty())
        return failedOnly ? QStringLiteral("No failed upgrade recorded.\n") : QStringLiteral("No upgrade recorded.\n");
    QString out = tableLine({QStringLiteral("STARTED"), QStringLiteral("FACE"), QStringLiteral("PORT"),
                             QStringLiteral("SERIAL"), QStringLiteral("MODEL"), QStringLiteral("FIRMWARE"),
                             QStringLiteral("LINES"), QStringLiteral("OUTCOME")});
    for (const AttemptRecord &r : rows) {
        QString outcome = outcomeWords(r.outcome);
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
        out += tableLine({times.local(r.startedUtc).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), Escaped::text(r.face),
                          r.port > 0 ? QString::number(r.port) : Escaped::text(orDash(r.socket)), Escaped::text(orDash(r.serial)), Escaped::text(orDash(r.model)),
                          Escaped::text(versionsText(r)), linesText(r), Escaped::text(outcome)});
    }
    return out;
}

namespace {
// A cell of a JSON or CSV row: none (null, an empty CSV field), a truth, a
// number or a text.
using Cell = std::variant<std::monostate, bool, qint64, QString>;

Cell textOrNone(const QString &s)
{
    return s.isEmpty() ? Cell() : Cell(s);
}

struct Column {
    QString name;
    bool inCsv;
    Cell (*value)(const AttemptRecord &r, LocalTimes &times);
};

// The columns of both forms, in their order; CSV leaves out the process id.
const Column kColumns[] = {
    {QStringLiteral("id"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.id); }},
    {QStringLiteral("started"), true, [](const AttemptRecord &r, LocalTimes &t) { return Cell(t.iso(r.startedUtc)); }},
    {QStringLiteral("ended"), true, [](const AttemptRecord &r, LocalTimes &t) { return textOrNone(t.iso(r.endedUtc)); }},
    {QStringLiteral("face"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.face); }},
    {QStringLiteral("host"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.host); }},
    {QStringLiteral("user"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.user); }},
    {QStringLiteral("pid"), false, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.pid); }},
    {QStringLiteral("port"), true,
     [](const AttemptRecord &r, LocalTimes &) { return r.port > 0 ? Cell(qint64(r.port)) : Cell(); }},
    {QStringLiteral("device"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.device); }},
    {QStringLiteral("serial"), true, [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.serial); }},
    {QStringLiteral("model"), true, [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.model); }},
    {QStringLiteral("boot_version"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.bootVersion); }},
    {QStringLiteral("firmware_version"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.firmwareVersion); }},
    {QStringLiteral("found_in_boot_loader"), true,
     [](const AttemptRecord &r, LocalTimes &) { return Cell(r.foundInBootLoader); }},
    {QStringLiteral("file_path"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.filePath); }},
    {QStringLiteral("file_size"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.fileSize); }},
    {QStringLiteral("file_sha256"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.fileSha256); }},
    {QStringLiteral("target_version"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.targetVersion); }},
    {QStringLiteral("outcome"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(r.outcome); }},
    {QStringLiteral("error_number"), true,
     [](const AttemptRecord &r, LocalTimes &) { return Cell(qint64(r.errorNumber)); }},
    {QStringLiteral("error_text"), true, [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.errorText); }},
    {QStringLiteral("lines_sent"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(qint64(r.linesSent)); }},
    {QStringLiteral("lines_total"), true,
     [](const AttemptRecord &r, LocalTimes &) { return Cell(qint64(r.linesTotal)); }},
    {QStringLiteral("retries"), true, [](const AttemptRecord &r, LocalTimes &) { return Cell(qint64(r.retries)); }},
    {QStringLiteral("refused_line"), true,
     [](const AttemptRecord &r, LocalTimes &) { return Cell(qint64(r.refusedLine)); }},
    {QStringLiteral("left_in_boot_loader"), true,
     [](const AttemptRecord &r, LocalTimes &) { return r.leftInBootLoader ? Cell(*r.leftInBootLoader) : Cell(); }},
    {QStringLiteral("firmware_after"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.firmwareAfter); }},
    {QStringLiteral("verified"), true,
     [](const AttemptRecord &r, LocalTimes &) { return r.verified < 0 ? Cell() : Cell(r.verified == 1); }},
    {QStringLiteral("real_device"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.realDevice); }},
    {QStringLiteral("usb_serial"), true, [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.usbSerial); }},
    {QStringLiteral("station"), true, [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.station); }},
    {QStringLiteral("operator"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.operatorName); }},
    {QStringLiteral("socket"), true, [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.socket); }},
    {QStringLiteral("profile_sha256"), true,
     [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.profileSha256); }},
    {QStringLiteral("uuid"), true, [](const AttemptRecord &r, LocalTimes &) { return textOrNone(r.uuid); }},
};

QJsonValue jsonOf(const Cell &cell)
{
    if (const bool *b = std::get_if<bool>(&cell))
        return *b;
    if (const qint64 *n = std::get_if<qint64>(&cell))
        return *n;
    if (const QString *s = std::get_if<QString>(&cell))
        return *s;
    return QJsonValue::Null;
}

// A number, even a negative one, stays one; a truth is 1 or 0.
void appendCsv(QString &line, const Cell &cell)
{
    if (const bool *b = std::get_if<bool>(&cell))
        line += *b ? QLatin1Char('1') : QLatin1Char('0');
    else if (const qint64 *n = std::get_if<qint64>(&cell))
        line += QString::number(*n);
    else if (const QString *s = std::get_if<QString>(&cell))
        line += csvField(*s);
}
}

HistoryTable::Writer::Writer() : times_(std::make_unique<LocalTimes>()) {}

HistoryTable::Writer::~Writer() = default;

QJsonObject HistoryTable::Writer::json(const AttemptRecord &r)
{
    QJsonObject o;
    for (const Column &c : kColumns)
        o.insert(c.name, jsonOf(c.value(r, *times_)));
    return o;
}

QString HistoryTable::csvHeader()
{
    QStringList names;
    for (const Column &c : kColumns)
        if (c.inCsv)
            names << c.name;
    return names.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

void HistoryTable::Writer::appendCsvRow(QString &out, const AttemptRecord &r)
{
    bool first = true;
    for (const Column &c : kColumns) {
        if (!c.inCsv)
            continue;
        if (!first)
            out += QLatin1Char(',');
        first = false;
        appendCsv(out, c.value(r, *times_));
    }
    out += QStringLiteral("\r\n");
}

QString HistoryTable::localIso(const QString &utc)
{
    return LocalTimes().iso(utc);
}
