#include "images.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QtMath>

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

const QColor kSelf(0x2f, 0x80, 0xed);
const QColor kServer(0xf3, 0x88, 0x27);

// A pin 20 x 28 whose tip is at (10, 27).
void drawPin(QPainter *painter, const QColor &colour)
{
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawEllipse(QRectF(1, 1, 18, 18));
    painter->drawPolygon(QPolygonF({QPointF(4, 15), QPointF(16, 15), QPointF(10, 27)}));
    painter->setBrush(Qt::white);
    painter->drawEllipse(QRectF(6, 6, 8, 8));
}

// Web Mercator at zoom level z: the world is 256 * 2^z pixels wide.
QPointF project(const QPointF &lonLat, double worldSize)
{
    const double lat = qBound(-85.0511, lonLat.y(), 85.0511) * M_PI / 180.0;
    return QPointF((lonLat.x() + 180.0) / 360.0 * worldSize,
                   (1.0 - std::log(std::tan(lat) + 1.0 / std::cos(lat)) / M_PI) / 2.0 * worldSize);
}

} // namespace

QByteArray markerPng(bool self, int scale)
{
    QImage image(20 * scale, 28 * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    drawPin(&painter, self ? kSelf : kServer);
    painter.end();
    return toPng(image);
}

QVector<QPointF> decodePolyline(const QString &encoded)
{
    QVector<QPointF> points;
    const QByteArray bytes = encoded.toLatin1();
    int index = 0;
    qint64 lat = 0, lon = 0;
    const auto next = [&](qint64 *value) {
        qint64 result = 0;
        int shift = 0;
        int byte = 0;
        do {
            if (index >= bytes.size() || shift > 30)
                return false;
            byte = bytes.at(index++) - 63;
            if (byte < 0)
                return false;
            result |= qint64(byte & 0x1f) << shift;
            shift += 5;
        } while (byte >= 0x20);
        *value += (result & 1) ? ~(result >> 1) : (result >> 1);
        return true;
    };
    while (index < bytes.size()) {
        if (!next(&lat) || !next(&lon))
            return {};
        points << QPointF(lon / 1e5, lat / 1e5);
    }
    return points;
}

void parseMapOverlays(const QString &overlays, MapRequest *request)
{
    static const QRegularExpression marker(
        QStringLiteral("url-([^(]*)\\((-?\\d+(?:\\.\\d+)?),(-?\\d+(?:\\.\\d+)?)\\)"));
    for (auto it = marker.globalMatch(overlays); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QPointF at(m.captured(2).toDouble(), m.captured(3).toDouble());
        if (qAbs(at.x()) > 180 || qAbs(at.y()) > 90)
            continue;
        if (m.captured(1).contains(QLatin1String("mapbox_marker_self")))
            request->selfMarkers << at;
        else if (m.captured(1).contains(QLatin1String("mapbox_marker_srv")))
            request->serverMarkers << at;
    }
    static const QRegularExpression path(QStringLiteral("path-[^(]*\\(([^)]*)\\)"));
    const QRegularExpressionMatch route = path.match(overlays);
    if (route.hasMatch())
        request->route = decodePolyline(route.captured(1));
}

QByteArray mapPng(const Coastlines &coastlines, const MapRequest &request)
{
    const int width = request.width, height = request.height;
    QImage image(width * request.scale, height * request.scale, QImage::Format_RGB32);
    image.fill(QColor(0xc8, 0xdf, 0xea));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(request.scale, request.scale);

    // The view: every marker and route point inside a margin, at most a region's zoom, at least the world's width.
    const QVector<QPointF> shown = request.selfMarkers + request.serverMarkers + request.route;
    const double minZoom = std::log2(width / 256.0), maxZoom = 5.0;
    double zoom = shown.isEmpty() ? minZoom : maxZoom;
    QPointF centre(0, 20);
    if (!shown.isEmpty()) {
        QRectF box;
        for (const QPointF &p : shown)
            box |= QRectF(project(p, 256.0), QSizeF(1e-9, 1e-9));
        centre = box.center();
        const double marginX = 40, marginTop = 40, marginBottom = 16; // the pins stand above their points
        const double fitX = (width - 2 * marginX) / qMax(box.width(), 1e-9);
        const double fitY = (height - marginTop - marginBottom) / qMax(box.height(), 1e-9);
        zoom = qBound(minZoom, std::log2(qMin(fitX, fitY)), maxZoom);
        centre = QPointF(centre.x(), centre.y() - (marginTop - marginBottom) / 2.0 / std::pow(2.0, zoom));
    } else {
        centre = project(centre, 256.0);
    }
    const double world = 256.0 * std::pow(2.0, zoom);
    const QPointF origin = centre * std::pow(2.0, zoom) - QPointF(width / 2.0, height / 2.0);
    const auto toView = [&](const QPointF &lonLat) { return project(lonLat, world) - origin; };

    // Land, repeated a world's width to either side where the view passes the date line.
    painter.setPen(QPen(QColor(0xa9, 0xb8, 0xbf), 0.8));
    painter.setBrush(QColor(0xf4, 0xf1, 0xea));
    QPainterPath land;
    land.setFillRule(Qt::WindingFill);
    for (const QVector<QPointF> &ring : coastlines) {
        QPolygonF polygon;
        polygon.reserve(ring.size());
        for (const QPointF &p : ring)
            polygon << toView(p);
        land.addPolygon(polygon);
        land.closeSubpath();
    }
    for (int copy = -1; copy <= 1; ++copy) {
        const QPainterPath moved = land.translated(copy * world, 0);
        if (moved.boundingRect().intersects(QRectF(0, 0, width, height)))
            painter.drawPath(moved);
    }

    if (request.route.size() >= 2) {
        QPolygonF line;
        for (const QPointF &p : request.route)
            line << toView(p);
        painter.setPen(QPen(kServer, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPolyline(line);
    }
    for (const auto &[markers, colour] : {std::pair{&request.serverMarkers, kServer}, {&request.selfMarkers, kSelf}}) {
        for (const QPointF &p : *markers) {
            painter.save();
            painter.translate(toView(p) - QPointF(10, 27));
            drawPin(&painter, colour);
            painter.restore();
        }
    }
    painter.end();
    return toPng(image);
}

} // namespace provider
