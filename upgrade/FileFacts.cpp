#include "upgrade/FileFacts.h"
#include "upgrade/CheckedFile.h"
#include "upgrade/HexFileCheck.h"
#include "upgrade/UpgradeFileName.h"
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

QString FileFacts::sha256Of(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&f))
        return {};
    return QString::fromLatin1(hash.result().toHex());
}

FileFacts FileFacts::of(const QString &path, const CheckedFile &checked)
{
    FileFacts facts;
    facts.path = QFileInfo(path).absoluteFilePath();
    facts.targetVersion = checked.versionText().trimmed();
    facts.sha256 = checked.sha256();
    facts.size = checked.bytesRead();
    facts.lines = checked.fileLines();
    return facts;
}

FileFacts FileFacts::of(const QString &path)
{
    FileFacts facts;
    const QFileInfo info(path);
    facts.path = info.absoluteFilePath();
    facts.targetVersion = UpgradeFileName::versionText(path).trimmed();
    facts.sha256 = sha256Of(path);
    if (!facts.sha256.isEmpty()) {
        facts.size = info.size();
        facts.lines = CheckedFile(path, CheckedFile::Keep::NoCopy).fileLines();
    }
    return facts;
}
