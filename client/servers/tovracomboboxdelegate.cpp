#include "servers/tovracomboboxdelegate.h"

#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QTextDocument>

#include "app/appcontext.h"
#include "servers/tovraservermodel.h"

TovraComboBoxDelegate::TovraComboBoxDelegate(QComboBox *comboBox, QObject *parent)
    : QStyledItemDelegate(parent), m_comboBox(comboBox)
{}

QString TovraComboBoxDelegate::RowRichText(const QString &text, bool disabled)
{
    const QString tag = disabled ? QStringLiteral("<font style=\"font-size: 15px; color: gray\">")
                                 : QStringLiteral("<font style=\"font-size: 15px; color: #5b7178\">");
    return tag + text.toHtmlEscaped();
}

void TovraComboBoxDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    const bool hovered = opt.state & QStyle::State_Selected;
    opt.state &= ~(QStyle::State_HasFocus | QStyle::State_Selected);
    initStyleOption(&opt, index);

    // Rows are matched by position, not by text: several servers may share one name.
    if (m_comboBox && index.model() == m_comboBox->model() && index.row() == m_comboBox->currentIndex())
        painter->fillRect(opt.rect, QColor(226, 231, 235));

    QTextDocument document;
    document.setDefaultFont(AppContext::instance()->appFont());
    document.setHtml(RowRichText(opt.text, index.flags() == Qt::NoItemFlags));
    opt.text.clear();

    opt.rect.setLeft(opt.rect.left() + 1);
    opt.rect.setTop(opt.rect.top() - 3);
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
    const QPoint origin(textRect.left() - 7, textRect.top() + 9);
    painter->save();
    painter->translate(origin);
    document.drawContents(painter, QRectF(0, 0, textRect.right() - 4 - origin.x(), textRect.bottom() - origin.y()));
    painter->restore();

    if (const auto *model = qobject_cast<const TovraServerModel *>(index.model())) {
        const TovraServer server = model->server(index.row());
        painter->drawPixmap(opt.rect.right() - 79, opt.rect.top() + 14, server.featureIcon);
        painter->drawPixmap(opt.rect.right() - 27, opt.rect.top() + 16, server.loadIcon);
    }

    painter->save();
    painter->setPen(QPen(QColor(239, 239, 239), 1));
    painter->drawLine(opt.rect.left(), opt.rect.bottom(), opt.rect.right(), opt.rect.bottom());
    if (hovered) {
        painter->setPen(QPen(QColor(249, 163, 71), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(QRect(QPoint(opt.rect.left() + 1, opt.rect.top() + 4),
                                QPoint(opt.rect.right() - 2, opt.rect.bottom() - 1)));
    }
    painter->restore();
}
