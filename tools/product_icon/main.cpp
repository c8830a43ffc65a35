// Writes the product icon the windows draw as a PNG, for the desktop menu
// entry of the installed program. Usage: ovfw_product_icon OUTPUT.png
#include "windows/Artwork.h"
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

namespace {
constexpr int kIconPixels = 32;  // the size the icon is drawn at
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");  // a build machine has no display
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    const QPixmap icon = Artwork::productIcon().pixmap(kIconPixels, kIconPixels);
    return icon.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
