#include "servers/tovraserver.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHash>
#include <QIcon>

namespace {

QHash<QString, QPixmap> &IconCache()
{
    static QHash<QString, QPixmap> cache;
    return cache;
}

// Pixmaps must not outlive the application object.
void ClearIconCache()
{
    IconCache().clear();
}

QPixmap CachedIcon(const QString &path)
{
    QHash<QString, QPixmap> &cache = IconCache();
    const auto it = cache.constFind(path);
    if (it != cache.constEnd())
        return it.value();
    if (cache.isEmpty())
        qAddPostRoutine(ClearIconCache);
    const QIcon icon(path);
    const QList<QSize> sizes = icon.availableSizes();
    const QPixmap pixmap = sizes.isEmpty() ? QPixmap() : icon.pixmap(sizes.first());
    if (pixmap.isNull())
        qDebug().noquote() << "Can't load icon" << path;
    cache.insert(path, pixmap);
    return pixmap;
}

} // namespace

namespace ServerIcons {

QString LoadIconPath(int loadPercentage)
{
    if (loadPercentage <= 33)
        return QStringLiteral(":/images/LoadPercentageGreen.png");
    if (loadPercentage <= 66)
        return QStringLiteral(":/images/LoadPercentageYellow.png");
    return QStringLiteral(":/images/LoadPercentageRed.png");
}

QString FeatureIconPath(bool isP2p, bool isStreaming)
{
    if (isP2p && isStreaming)
        return QStringLiteral(":/images/StreamingOn_P2pOn.png");
    if (isP2p)
        return QStringLiteral(":/images/StreamingOff_P2pOn.png");
    if (isStreaming)
        return QStringLiteral(":/images/StreamingOn_P2pOff.png");
    return QStringLiteral(":/images/StreamingOff_P2pOff.png");
}

QPixmap LoadIcon(int loadPercentage)
{
    return CachedIcon(LoadIconPath(loadPercentage));
}

QPixmap FeatureIcon(bool isP2p, bool isStreaming)
{
    return CachedIcon(FeatureIconPath(isP2p, isStreaming));
}

} // namespace ServerIcons
