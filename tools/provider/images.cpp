#include "images.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>

namespace provider {

namespace {

QByteArray toPng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

QByteArray markerPng(bool self, int scale)
{
    QImage image(20 * scale, 28 * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    painter.setPen(Qt::NoPen);
    painter.setBrush(self ? QColor(0x2f, 0x80, 0xed) : QColor(0xf3, 0x88, 0x27));
    painter.drawEllipse(QRectF(1, 1, 18, 18));
    painter.drawPolygon(QPolygonF({QPointF(4, 15), QPointF(16, 15), QPointF(10, 27)}));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(6, 6, 8, 8));
    painter.end();
    return toPng(image);
}

QByteArray mapPng(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(0xe8, 0xee, 0xf1));
    QPainter painter(&image);
    painter.setPen(QColor(0xc9, 0xd6, 0xdd));
    for (int x = 0; x < width; x += 32)
        painter.drawLine(x, 0, x, height);
    for (int y = 0; y < height; y += 32)
        painter.drawLine(0, y, width, y);
    painter.end();
    return toPng(image);
}

} // namespace provider
