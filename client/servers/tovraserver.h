#pragma once

#include <QMetaType>
#include <QPixmap>
#include <QString>

// One server of the provider's list, or one smart-list entry standing for the best server of a kind.
struct TovraServer
{
    QString countryCode;
    QString countryName;
    QString city;
    QString displayName;
    QString key;
    QString shortName;
    QString ip;
    bool isP2p = false;
    bool isStreaming = false;
    bool isAlive = true;
    bool isFavorite = false;
    bool isNearest = false;
    bool isB2b = false;
    qint32 loadPercentage = 0;
    double latitude = 0;
    double longitude = 0;
    QPixmap loadIcon;
    QPixmap featureIcon;
};

Q_DECLARE_METATYPE(TovraServer)

namespace ServerIcons {
// Resource paths of the icons.
QString loadIconPath(int loadPercentage);
QString featureIconPath(bool isP2p, bool isStreaming);
// The icons at their first size; each file is loaded once and shared by every record.
QPixmap loadIcon(int loadPercentage);
QPixmap featureIcon(bool isP2p, bool isStreaming);
} // namespace ServerIcons
