// Turns the user guide's Markdown source into the PDF installed beside the
// program, with Qt alone. Usage: ovfw_user_guide_pdf SOURCE.md OUTPUT.pdf
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

namespace {
constexpr int kResolutionDpi = 300;
constexpr double kMarginMillimetres = 20;
constexpr double kBodyFontPoints = 10.5;
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");  // a build machine has no display
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SOURCE.md OUTPUT.pdf\n", argv[0]);
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const QString output = QString::fromLocal8Bit(argv[2]);
    const QString partial = output + QStringLiteral(".part");

    QTextDocument doc;
    QFont body;
    body.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    body.setPointSizeF(kBodyFontPoints);
    doc.setDefaultFont(body);
    doc.setMarkdown(QString::fromUtf8(source.readAll()));
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
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
