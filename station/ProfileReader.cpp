#include "station/ProfileReader.h"
#include <QDir>

using Kind = ProfileProblem::Kind;

void ProfileReader::problem(Kind kind, const QString &text, const toml::source_region &at)
{
    r_.problems.append({kind, text, static_cast<int>(at.begin.line), static_cast<int>(at.begin.column)});
}

void ProfileReader::onlyKnown(const toml::table &table, const QString &where, const QStringList &known)
{
    for (auto &&[key, value] : table) {
        const QString name = QString::fromStdString(std::string(key.str()));
        if (!known.contains(name))
            problem(Kind::UnknownKey,
                    QStringLiteral("unknown key \"%1\" in %2 (known: %3)").arg(name, where, known.join(", ")),
                    key.source());
    }
}

const toml::table *ProfileReader::table(const toml::table &in, const char *key, const QString &where)
{
    const toml::node *node = in.get(key);
    if (!node)
        return nullptr;
    if (!node->is_table()) {
        problem(Kind::WrongType, QStringLiteral("%1 must be a table").arg(where), node->source());
        return nullptr;
    }
    return node->as_table();
}

QString ProfileReader::text(const toml::table &in, const char *key, const QString &where, toml::source_region *at)
{
    const toml::node *node = in.get(key);
    if (!node)
        return {};
    if (at)
        *at = node->source();
    if (!node->is_string()) {
        problem(Kind::WrongType, QStringLiteral("%1 must be a string").arg(where), node->source());
        return {};
    }
    QString value = QString::fromStdString(node->as_string()->get());
    if (value.isEmpty())
        problem(Kind::WrongType, QStringLiteral("%1 is empty").arg(where), node->source());
    return value;
}

QString ProfileReader::absolute(const QString &path) const
{
    return QDir::cleanPath(QDir(folder_).absoluteFilePath(path));
}
