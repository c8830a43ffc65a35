#pragma once
#include "app/DocumentOpener.h"
#include <QStringList>

// Records the documents it is asked to open.
class RecordingDocumentOpener : public DocumentOpener {
public:
    QStringList opened;
    void openDocument(const QString &path) override { opened << path; }
};
