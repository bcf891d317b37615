// PNG images served by the portal: the map markers and the static map.
#pragma once

#include <QByteArray>
#include <QPointF>
#include <QVector>

#include "coastlines/coastlinefile.h"

namespace provider {

// Marker pin; scale 2 gives the high-density variant.
QByteArray markerPng(bool self, int scale);

// What a static map request asks for: markers and a route in longitude (x) and latitude (y).
struct MapRequest
{
    int width = 0; // pixels at scale 1
    int height = 0;
    int scale = 1;
    QVector<QPointF> selfMarkers;
    QVector<QPointF> serverMarkers;
    QVector<QPointF> route;
};

// Reads the overlays of a static map path: "url-<marker address>(lon,lat)" markers (the user's when the address names
// mapbox_marker_self, the server's for mapbox_marker_srv) and a "path-…(<encoded polyline>)" route.
void parseMapOverlays(const QString &overlays, MapRequest *request);
// Decodes a polyline in the encoded polyline format (precision 5) into longitude/latitude points.
QVector<QPointF> decodePolyline(const QString &encoded);

// The map: sea, the land of coastlines, the route and the markers, in Web Mercator, fitted around the markers and the
// route with a margin; the whole world's width when nothing is asked. Width and height are multiplied by scale.
QByteArray mapPng(const Coastlines &coastlines, const MapRequest &request);

} // namespace provider
