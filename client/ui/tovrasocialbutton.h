#pragma once

#include <QPixmap>
#include <QPushButton>

// A push button with a pixmap drawn over its top-left corner (the social sign-in buttons).
class TovraSocialButton : public QPushButton
{
    Q_OBJECT
    Q_PROPERTY(QPixmap pixmap READ pixmap WRITE SetPixmap)

public:
    explicit TovraSocialButton(QWidget *parent = nullptr);

    void SetPixmap(const QPixmap &pixmap);
    QPixmap pixmap() const { return m_pixmap; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_pixmap;
};
