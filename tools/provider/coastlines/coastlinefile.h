// The stand-in provider's coastline file: the rings of the world's land in longitude and latitude.
#pragma once

#include <QIODevice>
#include <QPointF>
#include <QVector>

using Coastlines = QVector<QVector<QPointF>>;

// Format: "TOVRA-COAST 1" tag, then a QDataStream (Qt 5.12) of the rings as single-precision pairs.
bool writeCoastlines(QIODevice *device, const Coastlines &rings);
// Empty when the file is missing or not of that format.
Coastlines readCoastlines(QIODevice *device);
