#include "upgrade/UpgradeFileName.h"
#include <QFileInfo>
#include <QRegularExpression>

namespace UpgradeFileName {
namespace {
constexpr int kVersionFieldChars = 4;  // the four characters before ".OVH"
constexpr int kTailChars = 8;          // version field and extension

// The name's last part with every byte that was not valid UTF-8 (kept as a
// lone surrogate, see base/FileNames.h) made a '?': a regular expression
// matches valid text only.
QString matchable(const QString &path)
{
    QString name = QFileInfo(path).fileName();
    for (qsizetype i = 0; i < name.size(); ++i) {
        const bool paired = name.at(i).isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate();
        if (paired)
            ++i;
        else if (name.at(i).isSurrogate())
            name[i] = QLatin1Char('?');
    }
    return name;
}
}

QString modelCode(const QString &path)
{
    static const QRegularExpression pattern(QStringLiteral("^OV([0-9A-Z]+)_FW"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pattern.match(matchable(path));
    return m.hasMatch() ? m.captured(1).toUpper() : QString();
}

bool followsConvention(const QString &path)
{
    static const QRegularExpression pattern(QStringLiteral("^OV[0-9A-Z]+_FW[0-9]{3,4}\\.OVH$"),
                                            QRegularExpression::CaseInsensitiveOption);
    return pattern.match(matchable(path)).hasMatch();
}

QString versionText(const QString &path)
{
    const QString tail = path.right(kTailChars);
    QString field = tail.left(kVersionFieldChars);
    if (field.left(1).toUpper() == QLatin1String("W"))
        field = QLatin1Char(' ') + field.right(kVersionFieldChars - 1);
    return field.left(2) + QLatin1Char('.') + field.right(2);
}

QString dialogFilter(const QString &modelCode)
{
    return QStringLiteral("Firmware Upgrade Files (*.OVH)|OV%1_FW*.OVH").arg(modelCode);
}
}
