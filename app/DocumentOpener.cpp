#include "app/DocumentOpener.h"
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

void QtDocumentOpener::openDocument(const QString &path)
{
    if (QFileInfo(path).isFile())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}
