#include "servers/tovraservermodel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>
#include <QIcon>
#include <QPainter>

#include "app/appcontext.h"

namespace {

QHash<QString, QPixmap> &PixmapCache()
{
    static QHash<QString, QPixmap> cache;
    return cache;
}

// Pixmaps must not outlive the application object.
void ClearPixmapCache()
{
    PixmapCache().clear();
}

// The icon's pixmap at its first size, loaded once per path; null when the resource is missing.
QPixmap CachedPixmap(const QString &path)
{
    QHash<QString, QPixmap> &cache = PixmapCache();
    const auto it = cache.constFind(path);
    if (it != cache.constEnd())
        return it.value();
    if (cache.isEmpty())
        qAddPostRoutine(ClearPixmapCache);
    const QIcon icon(path);
    const QList<QSize> sizes = icon.availableSizes();
    const QPixmap pixmap = sizes.isEmpty() ? QPixmap() : icon.pixmap(sizes.first());
    if (pixmap.isNull())
        qDebug().noquote() << QStringLiteral("Can't load icon ") + path;
    cache.insert(path, pixmap);
    return pixmap;
}

QString BoolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

} // namespace

TovraServerModel::TovraServerModel(const QList<TovraServer> &servers, QObject *parent)
    : QAbstractListModel(parent), m_servers(servers)
{}

int TovraServerModel::rowCount(const QModelIndex &) const
{
    return m_servers.size();
}

QVariant TovraServerModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || !isRow(index.row()))
        return QVariant();
    const TovraServer &server = m_servers.at(index.row());
    if (role == Qt::DisplayRole)
        return server.displayName;
    if (role == Qt::DecorationRole)
        return DecorationPixmap(server.countryCode, server.isFavorite);
    return QVariant();
}

Qt::ItemFlags TovraServerModel::flags(const QModelIndex &index) const
{
    if (!index.isValid() || !isRow(index.row()))
        return Qt::NoItemFlags;
    const TovraServer &server = m_servers.at(index.row());
    if (server.isAlive || server.loadPercentage == 100)
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    return Qt::NoItemFlags;
}

void TovraServerModel::SetFavorite(int row, bool on)
{
    if (!isRow(row))
        return;
    if (on) {
        for (int i = 0; i < m_servers.size(); ++i) {
            if (!m_servers.at(i).isFavorite)
                continue;
            m_servers[i].isFavorite = false;
            emit dataChanged(index(i), index(i));
        }
    }
    m_servers[row].isFavorite = on;
    emit dataChanged(index(row), index(row));
}

void TovraServerModel::UpdateSmartCategory(int row, const TovraServer &best)
{
    const bool smart = AppContext::instance()->config()->smartServerList;
    if (smart && isRow(row) && m_servers.at(row).countryCode == best.countryCode) {
        TovraServer &server = m_servers[row];
        server.shortName = best.shortName;
        server.ip = best.ip;
        server.latitude = best.latitude;
        server.longitude = best.longitude;
        server.loadPercentage = best.loadPercentage;
        server.loadIcon = best.loadIcon;
        qDebug().noquote() << QStringLiteral("Smart server list category [") + server.displayName +
                                  QStringLiteral("] updated with server address: ") + server.shortName +
                                  QStringLiteral(" (") + server.ip + QLatin1Char(')');
        emit dataChanged(index(row), index(row));
        return;
    }
    QString message = QStringLiteral("Error occurred on updating smart server list category: Smart list enabled: ") +
                      BoolText(smart) + QStringLiteral(" category index: ") + QString::number(row) +
                      QStringLiteral(" smart list size: ") + QString::number(m_servers.size());
    if (isRow(row))
        message += QStringLiteral(" category country code ") + m_servers.at(row).countryCode;
    message += QStringLiteral(" received server country code: ") + best.countryCode;
    qDebug().noquote() << message;
}

TovraServer TovraServerModel::server(int row) const
{
    return isRow(row) ? m_servers.at(row) : TovraServer();
}

QPixmap TovraServerModel::DecorationPixmap(const QString &countryCode, bool favorite)
{
    QPixmap star = CachedPixmap(favorite ? QStringLiteral(":/servers/resources/servers/FavoriteOn.png")
                                         : QStringLiteral(":/servers/resources/servers/FavoriteOff.png"));
    // Flag files are named by the upper-case code; a code without a flag keeps the bare star.
    const QPixmap flag = countryCode.isEmpty() ? QPixmap()
                                               : CachedPixmap(QStringLiteral(":/flags/resources/servers/flags/") +
                                                              countryCode.toUpper() + QStringLiteral(".png"));
    if (star.isNull() || flag.isNull())
        return star;
    QPainter painter(&star);
    painter.drawPixmap(29, 4, flag);
    return star;
}
