#include "windows/Artwork.h"
#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kLargeIconPixels = 32;
constexpr int kSmallIconPixels = 16;

QPixmap blankSquare(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    return pm;
}

QPixmap productPixmap(int size)
{
    QPixmap pm = blankSquare(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, size / 16.0));
    p.setBrush(QColor(255, 255, 0));
    const qreal inset = size / 16.0;
    p.drawEllipse(QRectF(inset, inset, size - 2 * inset, size - 2 * inset));
    QFont f(QStringLiteral("Liberation Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(size * 7 / 16);
    f.setBold(true);
    f.setItalic(true);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, QStringLiteral("OV"));
    return pm;
}

QPixmap exitPixmap(int size)
{
    QPixmap pm = blankSquare(size);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(128, 0, 0), size / 16.0));
    p.setBrush(QColor(220, 0, 0));
    const qreal inset = size / 16.0;
    p.drawEllipse(QRectF(inset, inset, size - 2 * inset, size - 2 * inset));
    p.setPen(QPen(Qt::white, size / 8.0, Qt::SolidLine, Qt::RoundCap));
    const qreal a = size * 0.3, b = size * 0.7;
    p.drawLine(QPointF(a, a), QPointF(b, b));
    p.drawLine(QPointF(a, b), QPointF(b, a));
    return pm;
}

} // namespace

namespace Artwork {

QIcon productIcon()
{
    QIcon icon;
    icon.addPixmap(productPixmap(kLargeIconPixels));
    return icon;
}

QIcon exitIcon()
{
    QIcon icon;
    icon.addPixmap(exitPixmap(kLargeIconPixels));
    icon.addPixmap(exitPixmap(kSmallIconPixels));
    return icon;
}

QIcon blankIcon()
{
    QIcon icon;
    icon.addPixmap(blankSquare(kLargeIconPixels));
    icon.addPixmap(blankSquare(kSmallIconPixels));
    return icon;
}

}
