#pragma once

// The real TovraVPNService run with "-e foreground", optionally inside a network namespace.

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>

#include <csignal>

class ServiceProcess
{
public:
    static QString program() { return QStringLiteral(TOVRA_BIN_DIR "/TovraVPNService"); }

    ~ServiceProcess() { stop(); }

    // Starts the service and waits until it accepts connections on 127.0.0.1:56143 (seen from the
    // calling thread's namespace).
    bool start(const QStringList &prefix = QStringList(),
               const QProcessEnvironment &environment = QProcessEnvironment())
    {
        QStringList command = prefix + QStringList{program(), QStringLiteral("-e"), QStringLiteral("foreground")};
        if (!environment.isEmpty())
            m_process.setProcessEnvironment(environment);
        m_process.setReadChannel(QProcess::StandardError);
        m_process.start(command.takeFirst(), command);
        if (!m_process.waitForStarted())
            return false;
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), 56143);
            if (probe.waitForConnected(500))
                return waitForLog(QStringLiteral("New Connection"));
            QTest::qWait(100);
        }
        return false;
    }

    qint64 pid() const { return m_process.processId(); }
    bool signal(int number) const
    {
        return m_process.processId() > 0 && ::kill(pid_t(m_process.processId()), number) == 0;
    }

    // Waits until the service has written this text to its log (standard error in the foreground) since
    // the last call that found one.
    bool waitForLog(const QString &text, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (true) {
            m_log += QString::fromUtf8(m_process.readAllStandardError());
            const int at = m_log.indexOf(text, m_logPos);
            if (at >= 0) {
                m_logPos = at + text.size();
                return true;
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return false;
            m_process.waitForReadyRead(100);
        }
    }
    QString log()
    {
        m_log += QString::fromUtf8(m_process.readAllStandardError());
        return m_log;
    }

    // SIGTERM: the service stops in order.
    bool stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return true;
        signal(SIGTERM);
        if (m_process.waitForFinished(20000))
            return true;
        m_process.kill();
        m_process.waitForFinished();
        return false;
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    QString m_log;
    int m_logPos = 0;
};
