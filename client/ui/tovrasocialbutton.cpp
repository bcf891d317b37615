#include "ui/tovrasocialbutton.h"

#include <QPainter>

TovraSocialButton::TovraSocialButton(QWidget *parent) : QPushButton(parent) {}

void TovraSocialButton::SetPixmap(const QPixmap &pixmap)
{
    m_pixmap = pixmap;
    update();
}

void TovraSocialButton::paintEvent(QPaintEvent *event)
{
    QPushButton::paintEvent(event);
    if (m_pixmap.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_pixmap);
}
