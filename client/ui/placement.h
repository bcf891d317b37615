#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

// Where a window asked for at wanted goes: inside the available geometry of the screen under wanted's centre (the
// primary screen when none is there), as near to wanted as that allows; wanted's own place when it fits.
QPoint InsideScreen(const QRect &wanted);
// Moves window centred over area, kept inside its screen.
void MoveCentredOn(QWidget *window, const QRect &area);
