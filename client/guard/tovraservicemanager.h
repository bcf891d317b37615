#pragma once

#include <QAbstractSocket>
#include <QObject>
#include <QQueue>
#include <QTimer>

#include <memory>

class QTcpSocket;
class ServiceController;

// The client's end of the helper service: starts and stops it, and sends it one command per connection.
// Every task gets exactly one answer signal. Tasks run one at a time, in the order they were asked for: a task
// asked for while another one waits for its answer is queued and answered after it, so its call returns at once.
class TovraServiceManager : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 ServicePort = 56143;

    // The waits of the manager; the defaults are the production values.
    struct Timings
    {
        int connectTimeoutMs = 5000;
        int pollIntervalMs = 1000; // between checks that the started service runs
        int pollChecks = 5;
        int taskTimeoutMs = 35000; // one tool run of the service may take 30 s
    };

    explicit TovraServiceManager(QObject *parent = nullptr);
    // Uses the given controller for the helper service (tests).
    explicit TovraServiceManager(std::unique_ptr<ServiceController> controller, QObject *parent = nullptr);
    ~TovraServiceManager() override;

    bool StartService();
    // Starts the service unless it runs already (a running one is kept); whether it runs.
    bool EnsureServiceRunning();
    void StopService();

    void CheckGateway();
    void DeleteGateway();
    void RestoreGateway();
    void AddDnsFilters();
    void RemoveDnsFilters();
    // Has the helper check and write the OpenVPN configuration and its management password.
    void WriteOpenVpnConfig(const QByteArray &config, const QByteArray &managementPassword);

    // The firewall block of the kill switch: the VPN server admitted through it (address literal, "udp" or
    // "tcp", port, and the tunnel's device when known), whether it is in force, and the DNS servers the tunnel
    // pushed, which ADD_DNS_FILTERS then permits.
    void GuardServer(const QString &address, const QString &transport, quint16 port, const QString &device = {});
    void GuardStatus();
    void VpnDns(const QStringList &servers);

    // How the last task ended: its reply, no reply to a sent command (the service may have acted on it), or
    // no connection (nothing was sent).
    enum class TaskEnd { Replied, NoReply, NotSent };
    TaskEnd lastTaskEnd() const { return m_lastEnd; }
    // The last reply's text (empty without one).
    QString lastReply() const { return m_lastReply; }
    // Whether the last GUARD_STATUS answer said the block is in force.
    bool guardBlocking() const { return m_guardBlocking; }

    // Tests shorten the waits.
    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }

signals:
    void srvTaskFinished();
    void srvTaskCheckFinished(bool result);
    void srvTaskDeleteFinished(bool result);
    void srvTaskRestoreFinished(bool result);
    void srvTaskAddFiltersFinished(bool result);
    void srvTaskRmvFiltersFinished(bool result);
    void srvTaskGuardServerFinished(bool result);
    void srvTaskGuardStatusFinished(bool result);
    void srvTaskVpnDnsFinished(bool result);
    void srvTaskOvpnConfigFinished(bool result);
    void srvStatusTimerFinished();

private slots:
    void ReadMessageFromService();
    void DisplayError(QAbstractSocket::SocketError socketError);
    void CheckServiceStatus();

private:
    using AnswerSignal = void (TovraServiceManager::*)(bool);

    bool ConnectToService();
    // Asks the controller to start the service and waits until it runs.
    bool startAndWait();
    void DisconnectFromService();
    struct Task
    {
        QByteArray command;
        AnswerSignal answer;
        QString logText; // what the log shows of the command
    };

    void runTask(const QString &command, AnswerSignal answer);
    void runTask(const Task &task);
    void runOneTask(const Task &task);

    std::unique_ptr<ServiceController> m_controller;
    std::unique_ptr<QTcpSocket> m_socket;

    QQueue<Task> m_tasks;
    bool m_runningTasks = false;
    AnswerSignal m_currentAnswer = nullptr; // of the task waiting for its reply
    TaskEnd m_lastEnd = TaskEnd::Replied;
    QString m_lastReply;
    bool m_guardBlocking = false;

    Timings m_timings;
    QTimer m_pollTimer;
    int m_pollCount = 0;
    bool m_serviceStarted = false;
};
