#include "api/networkaccess.h"

#include <QNetworkAccessManager>

QNetworkAccessManager *NewNetworkAccessManager(QObject *parent)
{
    // Read by Qt when the first manager starts its bearer polling: once in 24 days instead of every 10 s.
    static const bool pollingOff = qputenv("QT_BEARER_POLL_TIMEOUT", "2147483647");
    Q_UNUSED(pollingOff)
    return new QNetworkAccessManager(parent);
}
