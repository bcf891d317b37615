// PNG images served by the portal: the map markers and a plain map tile.
#pragma once

#include <QByteArray>

namespace provider {

// Marker pin; scale 2 gives the high-density variant.
QByteArray markerPng(bool self, int scale);

// A plain map of width x height pixels with a grid and the markers' places.
QByteArray mapPng(int width, int height);

} // namespace provider
