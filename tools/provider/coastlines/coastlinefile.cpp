#include "coastlinefile.h"

#include <QDataStream>

namespace {
const QByteArray kTag = QByteArrayLiteral("TOVRA-COAST 1\n");
}

bool writeCoastlines(QIODevice *device, const Coastlines &rings)
{
    if (device->write(kTag) != kTag.size())
        return false;
    QDataStream out(device);
    out.setVersion(QDataStream::Qt_5_12);
    out.setFloatingPointPrecision(QDataStream::SinglePrecision);
    out << quint32(rings.size());
    for (const QVector<QPointF> &ring : rings) {
        out << quint32(ring.size());
        for (const QPointF &point : ring)
            out << point.x() << point.y();
    }
    return out.status() == QDataStream::Ok;
}

Coastlines readCoastlines(QIODevice *device)
{
    if (device->read(kTag.size()) != kTag)
        return {};
    QDataStream in(device);
    in.setVersion(QDataStream::Qt_5_12);
    in.setFloatingPointPrecision(QDataStream::SinglePrecision);
    quint32 count = 0;
    in >> count;
    Coastlines rings;
    for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        quint32 points = 0;
        in >> points;
        if (points > 1000000)
            return {};
        QVector<QPointF> ring;
        ring.reserve(int(points));
        for (quint32 j = 0; j < points && in.status() == QDataStream::Ok; ++j) {
            double x = 0, y = 0;
            in >> x >> y;
            ring << QPointF(x, y);
        }
        rings << ring;
    }
    return in.status() == QDataStream::Ok ? rings : Coastlines();
}
