#pragma once
#include <QFont>
#include <QRect>

// Geometry and fonts of the windows, which are laid out in twips (1/1440
// inch; 15 twips are one pixel at 96 dpi) with the classic Windows faces.
namespace Layout {

constexpr int kTwipsPerPixel = 15;

constexpr int pixels(int twips) { return twips / kTwipsPerPixel; }

inline QRect twips(int left, int top, int width, int height)
{
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

// The face the layout was drawn for first, then the nearest ones a Linux
// desktop has, at the same size and weight.
inline QFont font(const QString &family, double points, bool bold = false)
{
    QFont f;
    f.setFamilies({family, QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                   QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

inline const QString kSansSerif = QStringLiteral("MS Sans Serif");
inline const QString kArial = QStringLiteral("Arial");

}
