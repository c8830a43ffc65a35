#pragma once
#include <QIcon>
#include <QImage>

// True when the icon draws nothing at all: a window carrying it shows no
// picture, where an empty icon would let the main window's show through.
inline bool drawsNothing(const QIcon &icon)
{
    const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull())
        return false;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                return false;
    return true;
}
