#include "ui/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QPoint InsideScreen(const QRect &wanted)
{
    const QScreen *screen = QGuiApplication::screenAt(wanted.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return wanted.topLeft();
    const QRect area = screen->availableGeometry();
    // A window larger than the screen keeps its top-left corner (title, buttons) on it.
    const int x = qMax(area.left(), qMin(wanted.x(), area.x() + area.width() - wanted.width()));
    const int y = qMax(area.top(), qMin(wanted.y(), area.y() + area.height() - wanted.height()));
    return QPoint(x, y);
}

void MoveCentredOn(QWidget *window, const QRect &area)
{
    QRect wanted(QPoint(), window->size());
    wanted.moveCenter(area.center());
    window->move(InsideScreen(wanted));
}
