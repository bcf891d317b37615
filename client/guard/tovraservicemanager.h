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
    void StopService();

    void CheckGateway();
    void DeleteGateway();
    void RestoreGateway();
    void AddDnsFilters();
    void RemoveDnsFilters();
    // Has the helper check and write the OpenVPN configuration and its management password.
    void WriteOpenVpnConfig(const QByteArray &config, const QByteArray &managementPassword);

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
    void srvTaskOvpnConfigFinished(bool result);
    void srvStatusTimerFinished();

private slots:
    void ReadMessageFromService();
    void DisplayError(QAbstractSocket::SocketError socketError);
    void CheckServiceStatus();

private:
    using AnswerSignal = void (TovraServiceManager::*)(bool);

    bool ConnectToService();
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

    Timings m_timings;
    QTimer m_pollTimer;
    int m_pollCount = 0;
    bool m_serviceStarted = false;
};
