#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QPixmap>

#include "servers/tovraserver.h"

// The rows of the server picker: a copy of the main server list.
class TovraServerModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit TovraServerModel(const QList<TovraServer> &servers, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void SetFavorite(int row, bool on);
    void UpdateSmartCategory(int row, const TovraServer &best);

    // The row's record, or an empty record for a row outside the list.
    TovraServer server(int row) const;

    // The star with the country's flag painted to its right.
    static QPixmap DecorationPixmap(const QString &countryCode, bool favorite);

private:
    bool isRow(int row) const { return row >= 0 && row < m_servers.size(); }

    QList<TovraServer> m_servers;
};
