// The session file: the Port menu index of the port last used, then ten empty
// reserved fields, one per line with CR LF endings.
#include "base/Prompts.h"
#include "app/frmFwUpMain.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <limits>

namespace {

constexpr int kReservedFields = 10;
const QByteArray kLineEnd = QByteArrayLiteral("\r\n");
const QByteArray kEmptyTextField = QByteArrayLiteral("\"\"");

// Splits text the way the platform's field reader does: fields end at a
// comma or a line end; quotes around a text field are dropped.
QStringList readFields(const QByteArray &data)
{
    QStringList fields;
    int i = 0;
    const int n = data.size();
    while (i < n) {
        while (i < n && (data[i] == ' ' || data[i] == '\t'))
            ++i;
        QByteArray field;
        if (i < n && data[i] == '"') {
            const int close = data.indexOf('"', i + 1);
            const int end = close < 0 ? n : close;
            field = data.mid(i + 1, end - i - 1);
            i = close < 0 ? n : close + 1;
            while (i < n && data[i] != ',' && data[i] != '\r' && data[i] != '\n')
                ++i;
        } else {
            const int start = i;
            while (i < n && data[i] != ',' && data[i] != '\r' && data[i] != '\n')
                ++i;
            field = data.mid(start, i - start).trimmed();
        }
        fields << QString::fromLatin1(field);
        if (i < n && data[i] == ',')
            ++i;
        else
            while (i < n && (data[i] == '\r' || data[i] == '\n'))
                ++i;
    }
    return fields;
}

// Rewrites an existing file in place: emptied, written, flushed, each step
// checked. Not atomic, so only for where no new file can be made beside it.
bool writeInPlace(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::ExistingOnly))
        return false;
    const bool written = file.write(content) == content.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

// The new file is written beside the old one and replaces it only once it is
// complete, so a failed save never leaves an emptied file behind. Where no new
// file can be made beside it (a read-only folder) but the old file itself may
// be written, the old file is rewritten in place with the same bytes.
bool writeSessionFile(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly))
        return file.write(content) == content.size() && file.flush() && file.commit();
    return QFileInfo::exists(path) && writeInPlace(path, content);
}

} // namespace

bool frmFwUpMain::Save_Config()
{
    const QString folder = qEnvironmentVariableIsEmpty(kSessionDirVariable)
                               ? g.App_Path
                               : qEnvironmentVariable(kSessionDirVariable);
    bool failed = !QDir::setCurrent(folder);

    // The name is taken in the folder even when changing to it failed.
    const QString path = QDir(folder).filePath(kConfigFileName);
    const QFileInfo existing(path);
    if (existing.exists() && !existing.isWritable())
        failed = true;  // a read-only file stays as it is
    if (!failed) {
        QByteArray content = QByteArray::number(g.Port_Menu_Index) + kLineEnd;
        for (int i = 0; i < kReservedFields; ++i)
            content += kEmptyTextField + kLineEnd;
        failed = !writeSessionFile(path, content);
    }
    if (failed) {
        prompts_.MsgBox(Questions::sessionSaveFailed());
        return false;
    }
    return true;
}

bool frmFwUpMain::Load_Config()
{
    QFile file(kConfigFileName);  // the current folder, as the writer left it
    bool ok = file.open(QIODevice::ReadOnly);
    const QStringList fields = ok ? readFields(file.readAll()) : QStringList();
    ok = ok && file.error() == QFile::NoError && fields.size() >= 1 + kReservedFields;
    int value = 0;
    if (ok)
        value = fields[0].toInt(&ok);
    ok = ok && value >= std::numeric_limits<std::int16_t>::min() &&
         value <= std::numeric_limits<std::int16_t>::max();
    g.Port_Menu_Index = ok ? static_cast<std::int16_t>(value) : 0;
    return ok;
}
