#include "HexFiles.h"
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

namespace HexFiles {

namespace {
constexpr int kToolTimeoutMs = 30000;

bool srecCat(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("srec_cat"), args);
    return p.waitForFinished(kToolTimeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
}

QString write(const QString &dir, const QString &name, const QByteArray &content)
{
    const QString path = QDir(dir).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return {};
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

Made make(const QString &dir, const QString &name, int dataBytes, int recordBytes)
{
    QByteArray data(dataBytes, '\0');
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()), dataBytes / 4);
    const QString bin = write(dir, name + QStringLiteral(".data"), data);
    const QString lf = QDir(dir).filePath(name + QStringLiteral(".lf"));
    const QString back = QDir(dir).filePath(name + QStringLiteral(".back"));
    Made made;
    if (bin.isEmpty() ||
        !srecCat({bin, "-binary", "-o", lf, "-intel", QStringLiteral("-line-length=%1").arg(11 + 2 * recordBytes)}))
        return made;
    QByteArray text = readAll(lf);
    text.replace("\r\n", "\n");
    made.lines = static_cast<int>(text.count('\n'));
    text.replace("\n", "\r\n");
    made.path = write(dir, name, text);
    if (made.path.isEmpty() || !srecCat({made.path, "-intel", "-o", back, "-binary"}))
        return {};
    made.image = readAll(back);
    return made;
}

}
