#pragma once

#include <QPointer>
#include <QStyledItemDelegate>

class QComboBox;

// Paints the rows of the server picker's open list.
class TovraComboBoxDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TovraComboBoxDelegate(QComboBox *comboBox, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The rich text of a row or of the closed picker; the name is shown as plain text.
    static QString RowRichText(const QString &text, bool disabled);

private:
    QPointer<QComboBox> m_comboBox;
};
