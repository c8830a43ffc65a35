#include "station/StationProfile.h"
#include "station/ProfileReader.h"
#include "link/PortStatus.h"
#include "upgrade/UpgradeImage.h"
#include "upgrade/UpgradeFile.h"
#include "upgrade/UpgradeFileName.h"
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

namespace {
using Kind = ProfileProblem::Kind;

constexpr int kSha256HexDigits = 64;
constexpr int kMostRetries = 1000;
constexpr double kLongestSettleSeconds = 60;
constexpr qint64 kLargestProfileBytes = 1 << 20;

// The profile's sections, read into the profile.
class Reader : public ProfileReader {
public:
    using ProfileReader::ProfileReader;

    void station(const toml::table &root, StationProfile &p)
    {
        const toml::table *s = table(root, "station", QStringLiteral("[station]"));
        if (!s)
            return;
        onlyKnown(*s, QStringLiteral("[station]"), {"name", "watch", "settle"});
        const QString name = text(*s, "name", QStringLiteral("[station] name"));
        if (!name.isEmpty())
            p.name = name;
        toml::source_region watchAt;
        const QString watch = text(*s, "watch", QStringLiteral("[station] watch"), &watchAt);
        if (!watch.isEmpty()) {
            p.watch = absolute(watch);
            const QFileInfo folder(p.watch);
            if (folder.exists() && !folder.isDir())
                problem(Kind::WrongType,
                        QStringLiteral("[station] watch %1 is not a folder: it names the folder of the sockets' links")
                            .arg(p.watch),
                        watchAt);
            else
                linksOnce(p.watch, watchAt);
        }
        if (const toml::node *settle = s->get("settle")) {
            const std::optional<double> seconds = settle->value<double>();
            if (!seconds || !(*seconds >= 0 && *seconds <= kLongestSettleSeconds))  // nan is neither
                problem(Kind::WrongType,
                        QStringLiteral("[station] settle must be a number of seconds from 0 to %1").arg(kLongestSettleSeconds),
                        settle->source());
            else
                p.settleSeconds = *seconds;
        }
    }

    // Two links of the watched folder that reach one device would be two
    // sockets for one meter.
    void linksOnce(const QString &folder, const toml::source_region &at)
    {
        QHash<QString, QString> linkOf;  // real device -> the first link reaching it
        const QDir dir(folder);
        for (const QString &name : dir.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
            if (name.startsWith(QLatin1Char('.')))
                continue;
            const QString real = resolvedDevicePath(dir.filePath(name));
            if (real.isEmpty())
                continue;
            if (linkOf.contains(real))
                problem(Kind::SameDevice,
                        QStringLiteral("[station] watch: links %1 and %2 are one device (%3)").arg(linkOf.value(real), name, real),
                        at);
            else
                linkOf.insert(real, name);
        }
    }

    void sockets(const toml::table &root, StationProfile &p)
    {
        const toml::table *s = table(root, "sockets", QStringLiteral("[sockets]"));
        const toml::node *stationNode = root.get("station");
        const toml::node *watchNode = stationNode && stationNode->is_table() ? stationNode->as_table()->get("watch") : nullptr;
        if (s && watchNode)
            problem(Kind::SocketsTwice,
                    QStringLiteral("[station] watch and [sockets] together: a station either watches a folder of "
                                   "links or lists its sockets"),
                    watchNode->source());
        if (!s && !watchNode && !root.get("sockets"))
            problem(Kind::SocketsTwice, QStringLiteral("no sockets: give [station] watch or a [sockets] table"));
        if (!s)
            return;
        QHash<QString, StationSocket> byDevice;  // real device -> the first socket reaching it
        for (auto &&[key, value] : *s) {
            const QString name = QString::fromStdString(std::string(key.str()));
            const QString where = QStringLiteral("[sockets] %1").arg(name);
            if (!value.is_string()) {
                problem(Kind::WrongType, QStringLiteral("%1 must be a device path").arg(where), value.source());
                continue;
            }
            const StationSocket socket{name, absolute(QString::fromStdString(value.as_string()->get()))};
            const QString resolved = resolvedDevicePath(socket.device);
            const QString real = resolved.isEmpty() ? socket.device : resolved;
            if (byDevice.contains(real)) {
                problem(Kind::SameDevice,
                        QStringLiteral("sockets %1 and %2 are one device (%3)").arg(byDevice.value(real).name, name, real),
                        value.source());
                continue;
            }
            byDevice.insert(real, socket);
            p.sockets.append(socket);
        }
    }

    void models(const toml::table &root, StationProfile &p)
    {
        const toml::table *m = table(root, "models", QStringLiteral("[models]"));
        if (!m || m->empty()) {
            problem(Kind::Missing, QStringLiteral("no [models.X] table: the station would have no firmware"));
            return;
        }
        for (auto &&[key, value] : *m) {
            const QString model = QString::fromStdString(std::string(key.str()));
            const QString where = QStringLiteral("[models.%1]").arg(model);
            if (!value.is_table()) {
                problem(Kind::WrongType, QStringLiteral("%1 must be a table").arg(where), value.source());
                continue;
            }
            // Meters name their model in capitals, and it is compared exactly.
            if (model != model.toUpper()) {
                problem(Kind::ModelMismatch,
                        QStringLiteral("%1: a model is written as the meter names it: [models.%2]").arg(where, model.toUpper()),
                        key.source());
                continue;
            }
            firmware(model, where, *value.as_table(), key.source(), p);
        }
    }

    void firmware(const QString &model, const QString &where, const toml::table &t, const toml::source_region &at,
                  StationProfile &p)
    {
        onlyKnown(t, where, {"file", "sha256", "version", "retries"});
        StationFirmware f;
        f.model = model;
        toml::source_region fileAt = at, digestAt = at, versionAt = at;
        const QString file = text(t, "file", where + QStringLiteral(" file"), &fileAt);
        const QString digest = text(t, "sha256", where + QStringLiteral(" sha256"), &digestAt).toLower();
        f.version = text(t, "version", where + QStringLiteral(" version"), &versionAt);
        if (const toml::node *retries = t.get("retries")) {
            const std::optional<int64_t> n = retries->value<int64_t>();
            if (!retries->is_integer() || !n || *n < 0 || *n > kMostRetries)
                problem(Kind::WrongType, QStringLiteral("%1 retries must be a whole number from 0 to %2").arg(where).arg(kMostRetries),
                        retries->source());
            else
                f.retries = static_cast<int>(*n);
        }
        if (file.isEmpty()) {
            if (!t.get("file"))
                problem(Kind::Missing, QStringLiteral("%1 has no file").arg(where), at);
            return;
        }
        f.filePath = absolute(file);
        static const QRegularExpression hex(QRegularExpression::anchoredPattern(
            QStringLiteral("[0-9a-f]{%1}").arg(kSha256HexDigits)));
        if (!t.get("sha256"))
            problem(Kind::Digest, QStringLiteral("%1 has no sha256: the file's digest pins it").arg(where), at);
        else if (!digest.isEmpty() && !hex.match(digest).hasMatch())
            problem(Kind::Digest, QStringLiteral("%1 sha256 must be %2 hex digits").arg(where).arg(kSha256HexDigits),
                    digestAt);
        const QString named = UpgradeFileName::modelCode(f.filePath);
        if (named != model.toUpper())
            problem(Kind::ModelMismatch,
                    QStringLiteral("%1 file %2 is for model %3, not %4")
                        .arg(where, f.filePath, named.isEmpty() ? QStringLiteral("unknown") : named, model),
                    fileAt);
        const QString fromName = UpgradeFileName::versionText(f.filePath).trimmed();
        if (f.version.isEmpty())
            f.version = fromName;
        else if (!UpgradeFile::sameVersion(f.version, fromName))
            problem(Kind::VersionMismatch,
                    QStringLiteral("%1 version %2 differs from the file name's version %3").arg(where, f.version, UpgradeFile::asMeterWrites(fromName)),
                    versionAt);
        if (!QFileInfo(f.filePath).isFile()) {
            problem(Kind::FileRefused, QStringLiteral("%1 file %2 does not exist").arg(where, f.filePath), fileAt);
            return;
        }
        f.checked = std::make_shared<const UpgradeImage>(f.filePath);
        const FileCheckReport &report = f.checked->report();
        if (f.checked->errorNumber() != 0 || !report.ok) {
            const QString why = !report.openError.isEmpty() ? report.openError
                                : report.faultLine > 0     ? QStringLiteral("line %1: %2").arg(report.faultLine).arg(report.fault)
                                                           : report.fault;
            problem(Kind::FileRefused, QStringLiteral("%1 file %2 fails its check: %3").arg(where, f.filePath, why), fileAt);
            return;
        }
        f.sha256 = digest;
        if (hex.match(digest).hasMatch() && f.checked->sha256() != digest)
            problem(Kind::Digest,
                    QStringLiteral("%1 file %2 has the SHA-256 digest %3, not the profile's").arg(where, f.filePath, f.checked->sha256()),
                    digestAt);
        p.firmware.insert(model, f);
    }

};
}

namespace StationProfiles {

ProfileReading read(const QString &path, const QString &hostName)
{
    ProfileReading reading;
    StationProfile &p = reading.profile;
    p.path = QFileInfo(path).absoluteFilePath();
    p.name = hostName;
    Reader reader(reading, QFileInfo(p.path).absolutePath());
    QFile file(p.path);
    if (!QFileInfo(p.path).isFile() || !file.open(QIODevice::ReadOnly)) {
        reader.problem(Kind::Unreadable, QStringLiteral("cannot be read: %1").arg(file.errorString()));
        return reading;
    }
    const QByteArray bytes = file.read(kLargestProfileBytes + 1);
    if (bytes.size() > kLargestProfileBytes) {
        reader.problem(Kind::Unreadable, QStringLiteral("larger than %1 bytes: not a profile").arg(kLargestProfileBytes));
        return reading;
    }
    p.sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    toml::table root;
    try {
        root = toml::parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                           p.path.toStdString());
    } catch (const toml::parse_error &e) {
        reader.problem(Kind::Syntax, QString::fromStdString(std::string(e.description())), e.source());
        return reading;
    }
    reader.onlyKnown(root, QStringLiteral("the profile"), {"station", "sockets", "models", "records"});
    reader.station(root, p);
    reader.sockets(root, p);
    reader.models(root, p);
    if (const toml::table *records = reader.table(root, "records", QStringLiteral("[records]"))) {
        reader.onlyKnown(*records, QStringLiteral("[records]"), {"server"});
        p.recordsServer = reader.text(*records, "server", QStringLiteral("[records] server"));
    }
    return reading;
}

}
