#pragma once

#include <QObject>
#include <QPointF>

class QWidget;

// Lets the user move a frameless window by dragging it with the left button anywhere a child does not take
// the press.
class WindowDrag : public QObject
{
    Q_OBJECT

public:
    explicit WindowDrag(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    bool m_dragging = false;
    QPointF m_offset;
};
