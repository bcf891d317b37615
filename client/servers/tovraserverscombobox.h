#pragma once

#include <QComboBox>

// The server picker: paints the selected server with its icons; a click on the star toggles the favourite.
class TovraServersComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit TovraServersComboBox(QWidget *parent = nullptr);

signals:
    void favoriteStateChanged();
    void clickedWhileConnected();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    bool event(QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
};
