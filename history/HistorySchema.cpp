#include "history/HistorySchema.h"
#include <QSqlQuery>
#include <QVariant>

namespace {
// The columns after id, in the record's order: those written at the start,
// then those written at the end.
const QStringList kStartColumns = {
    QStringLiteral("started_utc"), QStringLiteral("host"), QStringLiteral("user"), QStringLiteral("face"),
    QStringLiteral("pid"), QStringLiteral("process_start"), QStringLiteral("boot_id"), QStringLiteral("port"),
    QStringLiteral("device"), QStringLiteral("real_device"), QStringLiteral("usb_serial"), QStringLiteral("serial"), QStringLiteral("model"), QStringLiteral("boot_version"),
    QStringLiteral("firmware_version"), QStringLiteral("found_in_boot_loader"), QStringLiteral("file_path"),
    QStringLiteral("file_size"), QStringLiteral("file_sha256"), QStringLiteral("target_version"),
    QStringLiteral("station"), QStringLiteral("operator"), QStringLiteral("socket"), QStringLiteral("profile_sha256")};
const QStringList kEndColumns = {
    QStringLiteral("ended_utc"), QStringLiteral("outcome"), QStringLiteral("error_number"),
    QStringLiteral("error_text"), QStringLiteral("lines_sent"), QStringLiteral("lines_total"),
    QStringLiteral("retries"), QStringLiteral("refused_line"), QStringLiteral("left_in_boot_loader")};

QVariant orNull(const QString &s) { return s.isEmpty() ? QVariant() : QVariant(s); }
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
    default:
        return {};
    }
}

QString HistorySchema::insertStatement()
{
    const QStringList columns = kStartColumns + kEndColumns;
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
    return QStringLiteral("UPDATE attempts SET %1 WHERE id=:id").arg(sets.join(QLatin1Char(',')));
}

void HistorySchema::bindAll(QSqlQuery &q, const AttemptRecord &r)
{
    q.bindValue(QStringLiteral(":started_utc"), r.startedUtc);
    q.bindValue(QStringLiteral(":host"), r.host);
    q.bindValue(QStringLiteral(":user"), r.user);
    q.bindValue(QStringLiteral(":face"), r.face);
    q.bindValue(QStringLiteral(":pid"), r.pid);
    q.bindValue(QStringLiteral(":process_start"), r.processStart);
    q.bindValue(QStringLiteral(":boot_id"), r.bootId);
    q.bindValue(QStringLiteral(":port"), r.port > 0 ? QVariant(r.port) : QVariant());  // none: named by its device
    q.bindValue(QStringLiteral(":device"), r.device);
    q.bindValue(QStringLiteral(":real_device"), orNull(r.realDevice));
    q.bindValue(QStringLiteral(":usb_serial"), orNull(r.usbSerial));
    q.bindValue(QStringLiteral(":serial"), orNull(r.serial));
    q.bindValue(QStringLiteral(":model"), orNull(r.model));
    q.bindValue(QStringLiteral(":boot_version"), orNull(r.bootVersion));
    q.bindValue(QStringLiteral(":firmware_version"), orNull(r.firmwareVersion));
    q.bindValue(QStringLiteral(":found_in_boot_loader"), r.foundInBootLoader ? 1 : 0);
    q.bindValue(QStringLiteral(":file_path"), r.filePath);
    q.bindValue(QStringLiteral(":file_size"), r.fileSize);
    q.bindValue(QStringLiteral(":file_sha256"), orNull(r.fileSha256));
    q.bindValue(QStringLiteral(":target_version"), orNull(r.targetVersion));
    q.bindValue(QStringLiteral(":station"), orNull(r.station));
    q.bindValue(QStringLiteral(":operator"), orNull(r.operatorName));
    q.bindValue(QStringLiteral(":socket"), orNull(r.socket));
    q.bindValue(QStringLiteral(":profile_sha256"), orNull(r.profileSha256));
    bindEnd(q, r);
}

void HistorySchema::bindEnd(QSqlQuery &q, const AttemptRecord &r)
{
    const bool ended = !r.outcome.isEmpty();
    const auto end = [&](const QVariant &v) { return ended ? v : QVariant(); };
    if (r.id > 0)
        q.bindValue(QStringLiteral(":id"), r.id);
    q.bindValue(QStringLiteral(":ended_utc"), end(r.endedUtc));
    q.bindValue(QStringLiteral(":outcome"), end(r.outcome));
    q.bindValue(QStringLiteral(":error_number"), end(r.errorNumber));
    q.bindValue(QStringLiteral(":error_text"), end(orNull(r.errorText)));
    q.bindValue(QStringLiteral(":lines_sent"), end(r.linesSent));
    q.bindValue(QStringLiteral(":lines_total"), r.linesTotal);
    q.bindValue(QStringLiteral(":retries"), end(r.retries));
    q.bindValue(QStringLiteral(":refused_line"), end(r.refusedLine));
    q.bindValue(QStringLiteral(":left_in_boot_loader"),
                end(r.leftInBootLoader ? QVariant(*r.leftInBootLoader ? 1 : 0) : QVariant()));
}

QString HistorySchema::failedCondition()
{
    const QStringList failures = {HistoryOutcome::UnexpectedEnd, HistoryOutcome::EndUnconfirmed, HistoryOutcome::NotSwitched, HistoryOutcome::Failed,
                                  HistoryOutcome::Stopped};
    return QStringLiteral("(outcome IS NULL OR outcome IN ('%1') OR verified = 0)")
        .arg(failures.join(QStringLiteral("','")));
}

QString HistorySchema::selectColumns()
{
    return QStringLiteral("id,") + (kStartColumns + kEndColumns).join(QLatin1Char(',')) +
           QStringLiteral(",firmware_after,verified");
}

AttemptRecord HistorySchema::fromQuery(const QSqlQuery &q)
{
    AttemptRecord r;
    int i = 0;
    const auto next = [&]() { return q.value(i++); };
    r.id = next().toLongLong();
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
