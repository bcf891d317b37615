#include "ui/windowdrag.h"

#include <QMouseEvent>
#include <QWidget>

WindowDrag::WindowDrag(QWidget *window, std::function<bool(const QPoint &)> area)
    : QObject(window), m_window(window), m_area(std::move(area))
{
    window->installEventFilter(this);
}

bool WindowDrag::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || (m_area && !m_area(mouse->pos())))
            return false;
        m_dragging = true;
        m_offset = mouse->screenPos() - QPointF(m_window->pos());
        return true;
    }
    case QEvent::MouseMove:
        if (!m_dragging)
            return false;
        m_window->move((static_cast<QMouseEvent *>(event)->screenPos() - m_offset).toPoint());
        return true;
    case QEvent::MouseButtonRelease:
        m_dragging = false;
        return false;
    default:
        return false;
    }
}
