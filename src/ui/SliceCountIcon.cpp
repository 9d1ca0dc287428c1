#include "SliceCountIcon.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>

namespace {
constexpr int kToolBarIconSize = 32;
} // namespace

QPixmap SliceCountIcon::render(const QString &picture, int count, int size, int devicePixelRatio)
{
    const int px = size * devicePixelRatio;
    QImage canvas(px, px, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter p(&canvas);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(0, 0, px, px), QImage(picture));

    QFont font;
    font.setBold(true);
    font.setPixelSize(qRound(px * 0.36));
    p.setFont(font);
    const QFontMetrics metrics(font);
    const QString text = QString::number(count);
    // The plate hides whatever badge the picture carries and gives the digits contrast.
    const int pad = std::max(1, px / 32);
    const int w = metrics.horizontalAdvance(text) + 2 * pad;
    const int h = metrics.capHeight() + 4 * pad;
    const QRect plate(px - w, px - h, w, h);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255));
    p.setRenderHint(QPainter::Antialiasing);
    p.drawRoundedRect(plate, 2 * pad, 2 * pad);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(24, 24, 24));
    p.drawText(plate.left() + pad, plate.bottom() - 2 * pad + 1, text);
    p.end();

    QPixmap pixmap = QPixmap::fromImage(canvas);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon SliceCountIcon::make(const QString &picture, int count)
{
    QIcon icon;
    for (int ratio : {1, 2}) {
        icon.addPixmap(render(picture, count, kToolBarIconSize, ratio));
        // Menus and small tool bars ask for 16 pixels.
        icon.addPixmap(render(picture, count, kToolBarIconSize / 2, ratio));
    }
    return icon;
}
