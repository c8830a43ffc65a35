// Turns the user guide's Markdown source into the PDF installed beside the
// program, with Qt alone. Its pictures (Markdown images) are read from
// PICTURES_DIR. Usage: ovfw_user_guide_pdf SOURCE.md PICTURES_DIR OUTPUT.pdf
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cstdio>

namespace {
constexpr int kResolutionDpi = 300;
constexpr double kMarginMillimetres = 20;
constexpr double kBodyFontPoints = 10.5;
constexpr double kA4WidthMillimetres = 210;
constexpr double kPrintFrameMarginMillimetres = 20;  // QTextDocument::print's own, inside the page's
constexpr double kMillimetresPerInch = 25.4;
constexpr double kMetresPerInch = 0.0254;
constexpr double kDocumentDpi = 96;  // QTextDocument lays a printed page out at this resolution

// Puts every picture the guide names into the document, at the size its
// resolution gives, no wider than the text; returns the names it cannot read.
QStringList embedPictures(QTextDocument &doc, const QDir &pictures)
{
    struct Picture {
        int position;
        int length;
        QTextImageFormat format;
    };
    QList<Picture> found;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isImageFormat())
                found.append({fragment.position(), fragment.length(), fragment.charFormat().toImageFormat()});
        }
    const double textWidth = (kA4WidthMillimetres - 2 * kMarginMillimetres - 2 * kPrintFrameMarginMillimetres) /
                             kMillimetresPerInch * kDocumentDpi;
    QStringList missing;
    for (Picture &p : found) {
        const QImage image(pictures.filePath(p.format.name()));
        if (image.isNull()) {
            missing << p.format.name();
            continue;
        }
        const double dpi = image.dotsPerMeterX() > 0 ? image.dotsPerMeterX() * kMetresPerInch : kDocumentDpi;
        const double width = qMin(textWidth, image.width() * kDocumentDpi / dpi);
        doc.addResource(QTextDocument::ImageResource, QUrl(p.format.name()), image);
        p.format.setWidth(width);
        p.format.setHeight(width * image.height() / image.width());
        QTextCursor cursor(&doc);
        cursor.setPosition(p.position);
        cursor.setPosition(p.position + p.length, QTextCursor::KeepAnchor);
        cursor.setCharFormat(p.format);
    }
    return missing;
}
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");  // a build machine has no display
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s SOURCE.md PICTURES_DIR OUTPUT.pdf\n", argv[0]);
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QDir pictures(QString::fromLocal8Bit(argv[2]));
    const QString output = QString::fromLocal8Bit(argv[3]);
    const QString partial = output + QStringLiteral(".part");

    QTextDocument doc;
    QFont body;
    body.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    body.setPointSizeF(kBodyFontPoints);
    doc.setDefaultFont(body);
    doc.setMarkdown(QString::fromUtf8(source.readAll()));
    const QStringList missing = embedPictures(doc, pictures);
    if (!missing.isEmpty()) {
        std::fprintf(stderr, "cannot read the pictures %s in %s\n", qPrintable(missing.join(QStringLiteral(", "))),
                     argv[2]);
        return 1;
    }
    {
        QPdfWriter pdf(partial);
        pdf.setResolution(kResolutionDpi);
        pdf.setTitle(QStringLiteral("ov Firmware Upgrade - User Guide"));
        pdf.setCreator(QStringLiteral("ov Firmware Upgrade build"));
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                      QMarginsF(kMarginMillimetres, kMarginMillimetres,
                                                kMarginMillimetres, kMarginMillimetres),
                                      QPageLayout::Millimeter));
        doc.print(&pdf);
    }
    // Replace the old guide only with a complete new one.
    QFile::remove(output);
    if (!QFile::rename(partial, output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
