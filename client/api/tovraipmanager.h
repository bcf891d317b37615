#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// The user's public address before the tunnel, and the check that the tunnel gives a new one.
class TovraIpManager : public QObject
{
    Q_OBJECT

public:
    // Timed steps; the defaults are the production values.
    struct Timings
    {
        // Pause before the second assigned-IP request of a check.
        int retryDelayMs = 3000;
    };

    explicit TovraIpManager(QObject *parent = nullptr);

    QString localIp;
    QString assignedIp;
    double latitude = 0;
    double longitude = 0;
    bool isAssignedIpRequest = false;
    bool firstAttempt = true;

    void setTimings(const Timings &timings) { m_retryTimer.setInterval(timings.retryDelayMs); }

public slots:
    void RequestLocalIp();
    // Starts an assigned-IP check; one still running ends without an answer.
    void RequestRemoteIp();
    // Ends the running assigned-IP check without an answer (the tunnel it checks is gone).
    void CancelAssignedIpCheck();
    // The answer to the latest request, whatever its kind.
    void SetGenericIpData(const QString &ipAddress, double latitude, double longitude);
    // Answers that know which request they belong to (the API manager's replies).
    void setLocalIpData(const QString &ipAddress, double latitude, double longitude);
    void setAssignedIpData(const QString &ipAddress, double latitude, double longitude);

signals:
    void LocalIpDataReceived();
    void RemoteIpCheckFinished(bool isOK);

private:
    void startRemoteRequest();

    QTimer m_retryTimer;
};

// Whether the machine reports a working connection to a network.
bool IsInternetConnected();
// Whether one ping of the API host is answered.
bool CheckActiveNetwork();
bool CheckActiveNetwork(const QString &host);
