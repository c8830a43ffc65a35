#include "history/HistorySchema.h"
#include <QSqlQuery>
#include <QVariant>

namespace {
QVariant orNull(const QString &s) { return s.isEmpty() ? QVariant() : QVariant(s); }

QStringList namesOf(const QList<HistorySchema::ColumnValue> &values)
{
    QStringList names;
    for (const HistorySchema::ColumnValue &c : values)
        names << c.column;
    return names;
}

// The columns after id, in the record's order: those written at the start,
// then those written at the end.
const QStringList kStartColumns = namesOf(HistorySchema::startValues({}));
const QStringList kEndColumns = namesOf(HistorySchema::endValues({}));
}

QStringList HistorySchema::migrationTo(int version)
{
    switch (version) {
    case 1:
        return {QStringLiteral("CREATE TABLE IF NOT EXISTS attempts ("
                               "id INTEGER PRIMARY KEY AUTOINCREMENT,"
                               "started_utc TEXT NOT NULL, host TEXT, user TEXT, face TEXT NOT NULL,"
                               "pid INTEGER, process_start INTEGER, boot_id TEXT,"
                               "port INTEGER, device TEXT, serial TEXT, model TEXT,"
                               "boot_version TEXT, firmware_version TEXT, found_in_boot_loader INTEGER NOT NULL,"
                               "file_path TEXT, file_size INTEGER, file_sha256 TEXT, target_version TEXT,"
                               "ended_utc TEXT, outcome TEXT, error_number INTEGER, error_text TEXT,"
                               "lines_sent INTEGER, lines_total INTEGER, retries INTEGER, refused_line INTEGER,"
                               "left_in_boot_loader INTEGER)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_serial ON attempts(serial)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_started ON attempts(started_utc)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_device ON attempts(device)")};
    case 2:  // ovfw upgrade --verify; failed rows found without reading the rest
        return {QStringLiteral("ALTER TABLE attempts ADD COLUMN firmware_after TEXT"),
                QStringLiteral("ALTER TABLE attempts ADD COLUMN verified INTEGER"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_failed ON attempts(id) WHERE ") +
                    failedCondition()};
    case 3:  // the boot-loader guard keys on the adapter or the real device; an unknown boot-loader state
        return {QStringLiteral("ALTER TABLE attempts ADD COLUMN real_device TEXT"),
                QStringLiteral("ALTER TABLE attempts ADD COLUMN usb_serial TEXT"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_real_device ON attempts(real_device)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_usb_serial ON attempts(usb_serial)"),
                // A switch never acknowledged may still have happened.
                QStringLiteral("UPDATE attempts SET left_in_boot_loader = NULL WHERE outcome = '%1'")
                    .arg(HistoryOutcome::NotSwitched),
                // --failed also lists attempts that failed verification.
                QStringLiteral("DROP INDEX IF EXISTS attempts_failed"),
                QStringLiteral("CREATE INDEX attempts_failed ON attempts(id) WHERE ") + failedCondition()};
    case 4:  // a station's meters: where, by whom, from which profile
        return {QStringLiteral("ALTER TABLE attempts ADD COLUMN station TEXT"),
                QStringLiteral("ALTER TABLE attempts ADD COLUMN operator TEXT"),
                QStringLiteral("ALTER TABLE attempts ADD COLUMN socket TEXT"),
                QStringLiteral("ALTER TABLE attempts ADD COLUMN profile_sha256 TEXT"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_station ON attempts(station, socket)")};
    case 5:  // each attempt known everywhere by its UUID; the revisions a records server has taken
        return {QStringLiteral("ALTER TABLE attempts ADD COLUMN uuid TEXT"),
                QStringLiteral("ALTER TABLE attempts ADD COLUMN revision INTEGER NOT NULL DEFAULT 1"),
                QStringLiteral("ALTER TABLE attempts ADD COLUMN pushed_revision INTEGER NOT NULL DEFAULT 0"),
                // Random (version 4) UUIDs for the rows made before.
                QStringLiteral("UPDATE attempts SET uuid = lower(hex(randomblob(4))) || '-' || "
                               "lower(hex(randomblob(2))) || '-4' || substr(lower(hex(randomblob(2))), 2) || '-' || "
                               "substr('89ab', 1 + (abs(random()) % 4), 1) || substr(lower(hex(randomblob(2))), 2) || "
                               "'-' || lower(hex(randomblob(6))) WHERE uuid IS NULL"),
                QStringLiteral("UPDATE attempts SET revision = 2 WHERE outcome IS NOT NULL"),
                QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS attempts_uuid ON attempts(uuid)"),
                QStringLiteral("CREATE INDEX IF NOT EXISTS attempts_unpushed ON attempts(id) WHERE ") +
                    unpushedCondition()};
    default:
        return {};
    }
}

QString HistorySchema::unpushedCondition()
{
    return QStringLiteral("pushed_revision < revision");
}

QString HistorySchema::insertStatement()
{
    const QStringList columns = QStringList{QStringLiteral("uuid"), QStringLiteral("revision")} + kStartColumns +
                                kEndColumns;
    QStringList marks;
    for (const QString &c : columns)
        marks << QLatin1Char(':') + c;
    return QStringLiteral("INSERT INTO attempts (%1) VALUES (%2)")
        .arg(columns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
}

QString HistorySchema::completeStatement()
{
    QStringList sets;
    for (const QString &c : kEndColumns)
        sets << QStringLiteral("%1=:%1").arg(c);
    return QStringLiteral("UPDATE attempts SET %1, revision=revision+1 WHERE id=:id").arg(sets.join(QLatin1Char(',')));
}

QList<HistorySchema::ColumnValue> HistorySchema::startValues(const AttemptRecord &r)
{
    return {{QStringLiteral("started_utc"), r.startedUtc},
            {QStringLiteral("host"), r.host},
            {QStringLiteral("user"), r.user},
            {QStringLiteral("face"), r.face},
            {QStringLiteral("pid"), r.pid},
            {QStringLiteral("process_start"), r.processStart},
            {QStringLiteral("boot_id"), r.bootId},
            {QStringLiteral("port"), r.port > 0 ? QVariant(r.port) : QVariant()},  // none: named by its device
            {QStringLiteral("device"), r.device},
            {QStringLiteral("real_device"), orNull(r.realDevice)},
            {QStringLiteral("usb_serial"), orNull(r.usbSerial)},
            {QStringLiteral("serial"), orNull(r.serial)},
            {QStringLiteral("model"), orNull(r.model)},
            {QStringLiteral("boot_version"), orNull(r.bootVersion)},
            {QStringLiteral("firmware_version"), orNull(r.firmwareVersion)},
            {QStringLiteral("found_in_boot_loader"), r.foundInBootLoader ? 1 : 0},
            {QStringLiteral("file_path"), r.filePath},
            {QStringLiteral("file_size"), r.fileSize},
            {QStringLiteral("file_sha256"), orNull(r.fileSha256)},
            {QStringLiteral("target_version"), orNull(r.targetVersion)},
            {QStringLiteral("station"), orNull(r.station)},
            {QStringLiteral("operator"), orNull(r.operatorName)},
            {QStringLiteral("socket"), orNull(r.socket)},
            {QStringLiteral("profile_sha256"), orNull(r.profileSha256)}};
}

QList<HistorySchema::ColumnValue> HistorySchema::endValues(const AttemptRecord &r)
{
    const bool ended = !r.outcome.isEmpty();
    const auto end = [&](const QVariant &v) { return ended ? v : QVariant(); };
    return {{QStringLiteral("ended_utc"), end(r.endedUtc)},
            {QStringLiteral("outcome"), end(r.outcome)},
            {QStringLiteral("error_number"), end(r.errorNumber)},
            {QStringLiteral("error_text"), end(orNull(r.errorText))},
            {QStringLiteral("lines_sent"), end(r.linesSent)},
            {QStringLiteral("lines_total"), r.linesTotal},
            {QStringLiteral("retries"), end(r.retries)},
            {QStringLiteral("refused_line"), end(r.refusedLine)},
            {QStringLiteral("left_in_boot_loader"),
             end(r.leftInBootLoader ? QVariant(*r.leftInBootLoader ? 1 : 0) : QVariant())}};
}

QList<HistorySchema::ColumnValue> HistorySchema::verifiedValues(const AttemptRecord &r)
{
    return {{QStringLiteral("firmware_after"), orNull(r.firmwareAfter)},
            {QStringLiteral("verified"), r.verified < 0 ? QVariant() : QVariant(r.verified)}};
}

void HistorySchema::bindAll(QSqlQuery &q, const AttemptRecord &r)
{
    q.bindValue(QStringLiteral(":uuid"), r.uuid);
    q.bindValue(QStringLiteral(":revision"), r.revision);
    for (const ColumnValue &c : startValues(r))
        q.bindValue(QLatin1Char(':') + c.column, c.value);
    bindEnd(q, r);
}

void HistorySchema::bindEnd(QSqlQuery &q, const AttemptRecord &r)
{
    if (r.id > 0)
        q.bindValue(QStringLiteral(":id"), r.id);
    for (const ColumnValue &c : endValues(r))
        q.bindValue(QLatin1Char(':') + c.column, c.value);
}

QString HistorySchema::failedCondition(const QString &falseValue)
{
    const QStringList failures = {HistoryOutcome::UnexpectedEnd, HistoryOutcome::EndUnconfirmed, HistoryOutcome::NotSwitched, HistoryOutcome::Failed,
                                  HistoryOutcome::Stopped};
    return QStringLiteral("(outcome IS NULL OR outcome IN ('%1') OR verified = %2)")
        .arg(failures.join(QStringLiteral("','")), falseValue);
}

QString HistorySchema::selectColumns()
{
    return QStringLiteral("id,uuid,revision,") + (kStartColumns + kEndColumns).join(QLatin1Char(',')) +
           QStringLiteral(",firmware_after,verified");
}

AttemptRecord HistorySchema::fromQuery(const QSqlQuery &q)
{
    AttemptRecord r;
    int i = 0;
    const auto next = [&]() { return q.value(i++); };
    r.id = next().toLongLong();
    r.uuid = next().toString();
    r.revision = next().toLongLong();
    r.startedUtc = next().toString();
    r.host = next().toString();
    r.user = next().toString();
    r.face = next().toString();
    r.pid = next().toLongLong();
    r.processStart = next().toLongLong();
    r.bootId = next().toString();
    r.port = next().toInt();  // NULL reads as 0
    r.device = next().toString();
    r.realDevice = next().toString();
    r.usbSerial = next().toString();
    r.serial = next().toString();
    r.model = next().toString();
    r.bootVersion = next().toString();
    r.firmwareVersion = next().toString();
    r.foundInBootLoader = next().toInt() != 0;
    r.filePath = next().toString();
    r.fileSize = next().toLongLong();
    r.fileSha256 = next().toString();
    r.targetVersion = next().toString();
    r.station = next().toString();
    r.operatorName = next().toString();
    r.socket = next().toString();
    r.profileSha256 = next().toString();
    r.endedUtc = next().toString();
    r.outcome = next().toString();
    r.errorNumber = next().toInt();
    r.errorText = next().toString();
    r.linesSent = next().toLongLong();
    r.linesTotal = next().toLongLong();
    r.retries = next().toInt();
    r.refusedLine = next().toLongLong();
    const QVariant left = next();
    r.leftInBootLoader = left.isNull() ? std::nullopt : std::optional<bool>(left.toInt() != 0);
    r.firmwareAfter = next().toString();
    const QVariant verified = next();
    r.verified = verified.isNull() ? -1 : verified.toInt();
    return r;
}
