#include "servers/tovraserver.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>
#include <QIcon>

namespace {

QHash<QString, QPixmap> &iconCache()
{
    static QHash<QString, QPixmap> cache;
    return cache;
}

// Pixmaps must not outlive the application object.
void clearIconCache()
{
    iconCache().clear();
}

QPixmap cachedIcon(const QString &path)
{
    QHash<QString, QPixmap> &cache = iconCache();
    const auto it = cache.constFind(path);
    if (it != cache.constEnd())
        return it.value();
    if (cache.isEmpty())
        qAddPostRoutine(clearIconCache);
    const QIcon icon(path);
    const QList<QSize> sizes = icon.availableSizes();
    const QPixmap pixmap = sizes.isEmpty() ? QPixmap() : icon.pixmap(sizes.first());
    if (pixmap.isNull())
        qDebug().noquote() << QStringLiteral("Can't load icon ") + path;
    cache.insert(path, pixmap);
    return pixmap;
}

} // namespace

namespace ServerIcons {

QString loadIconPath(int loadPercentage)
{
    if (loadPercentage <= 33)
        return QStringLiteral(":/images/LoadPercentageGreen.png");
    if (loadPercentage <= 66)
        return QStringLiteral(":/images/LoadPercentageYellow.png");
    return QStringLiteral(":/images/LoadPercentageRed.png");
}

QString featureIconPath(bool isP2p, bool isStreaming)
{
    if (isP2p && isStreaming)
        return QStringLiteral(":/images/StreamingOn_P2pOn.png");
    if (isP2p)
        return QStringLiteral(":/images/StreamingOff_P2pOn.png");
    if (isStreaming)
        return QStringLiteral(":/images/StreamingOn_P2pOff.png");
    return QStringLiteral(":/images/StreamingOff_P2pOff.png");
}

QPixmap loadIcon(int loadPercentage)
{
    return cachedIcon(loadIconPath(loadPercentage));
}

QPixmap featureIcon(bool isP2p, bool isStreaming)
{
    return cachedIcon(featureIconPath(isP2p, isStreaming));
}

} // namespace ServerIcons
