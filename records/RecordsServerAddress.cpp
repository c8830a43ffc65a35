#include "records/RecordsServerAddress.h"
#include <QStringList>
#include <libpq-fe.h>
#include <memory>

namespace {
// libpq's value quoting: in single quotes, with \ and ' escaped.
QString quoted(QString value)
{
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

struct OptionsFree {
    void operator()(PQconninfoOption *o) const { PQconninfoFree(o); }
};
}

std::optional<RecordsServerAddress> RecordsServerAddress::parse(const QString &text, QString &why)
{
    if (text.trimmed().isEmpty()) {
        why = QStringLiteral("no server address was given");
        return std::nullopt;
    }
    char *error = nullptr;
    const std::unique_ptr<PQconninfoOption, OptionsFree> options(PQconninfoParse(text.toUtf8().constData(), &error));
    if (!options) {
        why = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("libpq cannot read it");
        PQfreemem(error);
        return std::nullopt;
    }
    RecordsServerAddress a;
    a.given = text;
    QStringList rest;
    for (const PQconninfoOption *o = options.get(); o->keyword; ++o) {
        if (!o->val)
            continue;
        const QString key = QString::fromUtf8(o->keyword);
        const QString value = QString::fromUtf8(o->val);
        if (key == QLatin1String("password")) {
            why = QStringLiteral("the address carries a password, which others can read on a command line, in a "
                                 "profile or in the environment; give it in ~/.pgpass or in the file PGPASSFILE "
                                 "names instead");
            return std::nullopt;
        }
        if (key == QLatin1String("host")) {
            a.host = value;
        } else if (key == QLatin1String("port")) {
            bool ok = false;
            a.port = value.toInt(&ok);
            if (!ok) {
                why = QStringLiteral("the port %1 is not a number").arg(value);
                return std::nullopt;
            }
        } else if (key == QLatin1String("dbname")) {
            a.database = value;
        } else if (key == QLatin1String("user")) {
            a.user = value;
        } else if (key == QLatin1String("connect_timeout")) {
            a.connectTimeoutSeconds = value.toInt();
        } else if (value.contains(QLatin1Char(';'))) {
            // The driver splits its options at every ';', quoted or not.
            why = QStringLiteral("the setting %1 holds a ';', which Qt's PostgreSQL driver cannot pass on").arg(key);
            return std::nullopt;
        } else {
            rest << key + QLatin1Char('=') + quoted(value);
        }
    }
    a.connectOptions = rest.join(QLatin1Char(';'));
    return a;
}
