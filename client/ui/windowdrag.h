#pragma once

#include <QObject>
#include <QPoint>
#include <QPointF>
#include <functional>

class QWidget;

// Lets the user move a frameless window by dragging it with the left button anywhere a child does not take
// the press, or only where the given area holds (position in the window).
class WindowDrag : public QObject
{
    Q_OBJECT

public:
    explicit WindowDrag(QWidget *window, std::function<bool(const QPoint &)> area = {});

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    std::function<bool(const QPoint &)> m_area;
    bool m_dragging = false;
    QPointF m_offset;
};
