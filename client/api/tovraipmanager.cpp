#include "api/tovraipmanager.h"

#include <QDebug>
#include <QUrl>

#include "api/tovraapimanager.h"
#include "app/appcontext.h"

TovraIpManager::TovraIpManager(QObject *parent) : QObject(parent)
{
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setInterval(Timings().retryDelayMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &TovraIpManager::startRemoteRequest);
}

void TovraIpManager::RequestLocalIp()
{
    isAssignedIpRequest = false;
    localIp.clear();
    AppContext::instance()->apiManager()->GetLocalIpData();
}

void TovraIpManager::RequestRemoteIp()
{
    // A new check replaces whatever an earlier one still waits for, so only the new one answers.
    CancelAssignedIpCheck();
    startRemoteRequest();
}

void TovraIpManager::CancelAssignedIpCheck()
{
    m_retryTimer.stop();
    firstAttempt = true;
    AppContext::instance()->apiManager()->CancelAssignedIpCheck();
}

void TovraIpManager::startRemoteRequest()
{
    isAssignedIpRequest = true;
    assignedIp.clear();
    AppContext::instance()->apiManager()->GetAssignedIpData();
}

void TovraIpManager::SetGenericIpData(const QString &ipAddress, double latitude, double longitude)
{
    if (isAssignedIpRequest)
        setAssignedIpData(ipAddress, latitude, longitude);
    else
        setLocalIpData(ipAddress, latitude, longitude);
}

void TovraIpManager::setLocalIpData(const QString &ipAddress, double lat, double lon)
{
    localIp = ipAddress;
    latitude = lat;
    longitude = lon;
    qDebug().noquote() << QStringLiteral("Local IP: ") + localIp;
    qDebug().noquote() << QStringLiteral("Local latitude: ") + QString::number(latitude) +
                              QStringLiteral(" longitude: ") + QString::number(longitude);
    emit LocalIpDataReceived();
}

void TovraIpManager::setAssignedIpData(const QString &ipAddress, double, double)
{
    assignedIp = ipAddress;
    qDebug().noquote() << QStringLiteral("Assigned IP: ") + assignedIp;
    if (!assignedIp.isEmpty() && assignedIp != localIp) {
        firstAttempt = true;
        emit RemoteIpCheckFinished(true);
    } else if (firstAttempt) {
        qDebug() << "First attempt to request new IP failed. Second attempt in 3 sec.";
        firstAttempt = false;
        m_retryTimer.start();
    } else {
        qDebug() << "Second attempt to request new IP failed. Disconnect here.";
        firstAttempt = true;
        emit RemoteIpCheckFinished(false);
    }
}

bool CheckActiveNetwork()
{
    return CheckActiveNetwork(QUrl(AppContext::instance()->apiManager()->apiBaseUrl()).host());
}
