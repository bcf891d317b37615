#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// The user's public address before the tunnel, and the check that the tunnel gives a new one.
class TovraIpManager : public QObject
{
    Q_OBJECT

public:
    explicit TovraIpManager(QObject *parent = nullptr);

    QString localIp;
    QString assignedIp;
    double latitude = 0;
    double longitude = 0;
    bool isAssignedIpRequest = false;
    bool firstAttempt = true;

    // Pause before the second assigned-IP request of a check.
    void setRetryDelay(int msec) { m_retryTimer.setInterval(msec); }
    int retryDelay() const { return m_retryTimer.interval(); }

public slots:
    void RequestLocalIp();
    void RequestRemoteIp();
    // The answer to the latest request, whatever its kind.
    void SetGenericIpData(const QString &ipAddress, double latitude, double longitude);
    // Answers that know which request they belong to (the API manager's replies).
    void SetLocalIpData(const QString &ipAddress, double latitude, double longitude);
    void SetAssignedIpData(const QString &ipAddress, double latitude, double longitude);

signals:
    void LocalIpDataReceived();
    void RemoteIpCheckFinished(bool isOK);

private:
    void StartRemoteRequest();

    QTimer m_retryTimer;
};

// Whether the machine reports a working connection to a network.
bool IsInternetConnected();
// Whether one ping of the API host is answered.
bool CheckActiveNetwork();
bool CheckActiveNetwork(const QString &host);
