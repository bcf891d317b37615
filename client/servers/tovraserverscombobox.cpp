#include "servers/tovraserverscombobox.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionComboBox>
#include <QTextDocument>

#include "app/appcontext.h"
#include "servers/tovracomboboxdelegate.h"
#include "servers/tovraservermodel.h"

TovraServersComboBox::TovraServersComboBox(QWidget *parent) : QComboBox(parent)
{
    // The open list's rows are painted as the closed picker shows its selection.
    setItemDelegate(new TovraComboBoxDelegate(this, this));
}

void TovraServersComboBox::paintEvent(QPaintEvent *event)
{
    QComboBox::paintEvent(event);

    QPainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    style()->drawComplexControl(QStyle::CC_ComboBox, &option, &painter, this);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);

    const int row = currentIndex();
    if (row < 0)
        return;
    const QPixmap decoration = itemIcon(row).pixmap(QSize(56, 29));
    style()->drawItemPixmap(&painter, field.adjusted(3, 6, 0, 0), Qt::AlignLeft, decoration);

    QTextDocument document;
    document.setDefaultFont(AppContext::instance()->appFont());
    document.setHtml(TovraComboBoxDelegate::RowRichText(currentText(), false));
    const QPoint origin(field.left() + 55, field.top() + 7);
    painter.save();
    painter.translate(origin);
    document.drawContents(&painter, QRectF(0, 0, field.right() - 4 - origin.x(), field.bottom() - origin.y()));
    painter.restore();

    if (const auto *serverModel = qobject_cast<const TovraServerModel *>(model())) {
        const TovraServer server = serverModel->server(row);
        painter.drawPixmap(field.right() - 76, field.top() + 12, server.featureIcon);
        painter.drawPixmap(field.right() - 24, field.top() + 14, server.loadIcon);
    }
}

void TovraServersComboBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint pos = event->localPos().toPoint();
        if (pos.x() >= 8 && pos.x() < 29 && pos.y() >= 14 && pos.y() < 34) {
            emit favoriteStateChanged();
            return;
        }
    }
    QComboBox::mousePressEvent(event);
}

bool TovraServersComboBox::event(QEvent *event)
{
    // A disabled picker still reacts to its star.
    if (!isEnabled() && event->type() == QEvent::MouseButtonPress) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint pos = mouse->localPos().toPoint();
        if (mouse->button() == Qt::LeftButton && pos.x() >= 8 && pos.x() <= 24 && pos.y() >= 7 && pos.y() < 22)
            emit favoriteStateChanged();
        return true;
    }
    return QComboBox::event(event);
}

void TovraServersComboBox::wheelEvent(QWheelEvent *) {}
