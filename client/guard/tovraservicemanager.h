#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QTimer>

#include <memory>

class QTcpSocket;
class ServiceController;

// The client's end of the helper service: starts and stops it, and sends it one command per connection.
// Every task returns after its answer signal has been emitted.
class TovraServiceManager : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 ServicePort = 56143;
    static constexpr int ConnectTimeoutMs = 5000;
    static constexpr int PollIntervalMs = 1000;
    static constexpr int PollChecks = 5;
    // One tool run of the service may take 30 s.
    static constexpr int TaskTimeoutMs = 35000;

    explicit TovraServiceManager(QObject *parent = nullptr);
    // Uses the given controller for the helper service (tests).
    explicit TovraServiceManager(std::unique_ptr<ServiceController> controller, QObject *parent = nullptr);
    ~TovraServiceManager() override;

    bool StartService();
    void StopService();

    void CheckGateway();
    void DeleteGateway();
    void RestoreGateway();
    void AddDnsFilters();
    void RemoveDnsFilters();

    // Tests shorten these.
    int pollIntervalMs = PollIntervalMs;
    int taskTimeoutMs = TaskTimeoutMs;

signals:
    void srvTaskFinished();
    void srvTaskCheckFinished(bool result);
    void srvTaskDeleteFinished(bool result);
    void srvTaskRestoreFinished(bool result);
    void srvTaskAddFiltersFinished(bool result);
    void srvTaskRmvFiltersFinished(bool result);
    void srvStatusTimerFinished();

private slots:
    void ReadMessageFromService();
    void DisplayError(QAbstractSocket::SocketError socketError);
    void CheckServiceStatus();

private:
    using AnswerSignal = void (TovraServiceManager::*)(bool);

    bool ConnectToService();
    void DisconnectFromService();
    void RunTask(const QString &command, AnswerSignal answer);

    std::unique_ptr<ServiceController> m_controller;
    std::unique_ptr<QTcpSocket> m_socket;

    QTimer m_pollTimer;
    int m_pollCount = 0;
    bool m_serviceStarted = false;
};
