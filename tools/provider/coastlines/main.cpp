// Converts the land of a Natural Earth TopoJSON file (npm's world-atlas, land-110m.json) into the stand-in
// provider's coastline file: a list of rings in longitude and latitude.
//   tovra-coastlines INPUT.json OUTPUT.bin
#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointF>
#include <QSaveFile>
#include <QVector>
#include <cstdio>

#include "coastlinefile.h"

namespace {

// The arcs as absolute longitude and latitude: TopoJSON stores them quantized and delta-encoded.
QVector<QVector<QPointF>> decodeArcs(const QJsonObject &topology)
{
    const QJsonObject transform = topology.value(QLatin1String("transform")).toObject();
    const QJsonArray scale = transform.value(QLatin1String("scale")).toArray();
    const QJsonArray translate = transform.value(QLatin1String("translate")).toArray();
    const bool quantized = scale.size() == 2 && translate.size() == 2;
    QVector<QVector<QPointF>> arcs;
    for (const QJsonValue &arcValue : topology.value(QLatin1String("arcs")).toArray()) {
        QVector<QPointF> points;
        double x = 0, y = 0;
        for (const QJsonValue &pointValue : arcValue.toArray()) {
            const QJsonArray point = pointValue.toArray();
            if (quantized) {
                x += point.at(0).toDouble();
                y += point.at(1).toDouble();
                points << QPointF(x * scale.at(0).toDouble() + translate.at(0).toDouble(),
                                  y * scale.at(1).toDouble() + translate.at(1).toDouble());
            } else {
                points << QPointF(point.at(0).toDouble(), point.at(1).toDouble());
            }
        }
        arcs << points;
    }
    return arcs;
}

// One ring from its arc indices; ~i is arc i reversed, and each arc after the first repeats the last point.
QVector<QPointF> ring(const QJsonArray &indices, const QVector<QVector<QPointF>> &arcs)
{
    QVector<QPointF> points;
    for (const QJsonValue &value : indices) {
        const int index = value.toInt();
        const int arc = index < 0 ? ~index : index;
        if (arc < 0 || arc >= arcs.size())
            continue;
        QVector<QPointF> part = arcs.at(arc);
        if (index < 0)
            std::reverse(part.begin(), part.end());
        if (!points.isEmpty() && !part.isEmpty())
            part.removeFirst();
        points << part;
    }
    return points;
}

void addGeometry(const QJsonObject &geometry, const QVector<QVector<QPointF>> &arcs, Coastlines *rings)
{
    const QString type = geometry.value(QLatin1String("type")).toString();
    const QJsonArray shape = geometry.value(QLatin1String("arcs")).toArray();
    if (type == QLatin1String("GeometryCollection")) {
        for (const QJsonValue &child : geometry.value(QLatin1String("geometries")).toArray())
            addGeometry(child.toObject(), arcs, rings);
    } else if (type == QLatin1String("Polygon")) {
        for (const QJsonValue &r : shape)
            rings->append(ring(r.toArray(), arcs));
    } else if (type == QLatin1String("MultiPolygon")) {
        for (const QJsonValue &polygon : shape)
            for (const QJsonValue &r : polygon.toArray())
                rings->append(ring(r.toArray(), arcs));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        fprintf(stderr, "usage: tovra-coastlines INPUT.json OUTPUT.bin\n");
        return 2;
    }
    QFile input(args.at(1));
    if (!input.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "tovra-coastlines: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const QJsonObject topology = QJsonDocument::fromJson(input.readAll()).object();
    const QJsonObject land =
        topology.value(QLatin1String("objects")).toObject().value(QLatin1String("land")).toObject();
    Coastlines rings;
    addGeometry(land, decodeArcs(topology), &rings);
    if (rings.isEmpty()) {
        fprintf(stderr, "tovra-coastlines: no land in %s\n", qPrintable(args.at(1)));
        return 1;
    }
    QSaveFile output(args.at(2));
    if (!output.open(QIODevice::WriteOnly) || !writeCoastlines(&output, rings) || !output.commit()) {
        fprintf(stderr, "tovra-coastlines: cannot write %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
