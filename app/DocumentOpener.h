#pragma once
#include <QString>

// Opens a document in the desktop's viewer for its type, without waiting.
class DocumentOpener {
public:
    virtual ~DocumentOpener() = default;
    virtual void openDocument(const QString &path) = 0;
};

// Through QDesktopServices; a missing document is passed over silently, so
// the desktop shows no error for it either.
class QtDocumentOpener : public DocumentOpener {
public:
    void openDocument(const QString &path) override;
};
