#include "servers/tovraserver.h"

#include <QCoreApplication>
#include <QDebug>
#include <QIcon>

#include <algorithm>

namespace {

// One slot per icon file: three load levels, then the four feature combinations.
constexpr int iconSlots = 7;

struct IconCache
{
    QPixmap pixmaps[iconSlots];
    bool loaded[iconSlots] = {};
};

IconCache &iconCache()
{
    static IconCache cache;
    return cache;
}

// Pixmaps must not outlive the application object.
void clearIconCache()
{
    iconCache() = IconCache();
}

int loadSlot(int loadPercentage)
{
    return loadPercentage <= 33 ? 0 : loadPercentage <= 66 ? 1 : 2;
}

int featureSlot(bool isP2p, bool isStreaming)
{
    return 3 + (isP2p ? 2 : 0) + (isStreaming ? 1 : 0);
}

QPixmap cachedIcon(int slot, const QString &path)
{
    IconCache &cache = iconCache();
    if (cache.loaded[slot])
        return cache.pixmaps[slot];
    if (std::none_of(cache.loaded, cache.loaded + iconSlots, [](bool loaded) { return loaded; }))
        qAddPostRoutine(clearIconCache);
    const QIcon icon(path);
    const QList<QSize> sizes = icon.availableSizes();
    const QPixmap pixmap = sizes.isEmpty() ? QPixmap() : icon.pixmap(sizes.first());
    if (pixmap.isNull())
        qDebug().noquote() << QString(QLatin1String("Can't load icon ") % path);
    cache.pixmaps[slot] = pixmap;
    cache.loaded[slot] = true;
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
    return cachedIcon(loadSlot(loadPercentage), loadIconPath(loadPercentage));
}

QPixmap featureIcon(bool isP2p, bool isStreaming)
{
    return cachedIcon(featureSlot(isP2p, isStreaming), featureIconPath(isP2p, isStreaming));
}

} // namespace ServerIcons
