#pragma once

// The real TovraVPNService run with "-e foreground", optionally inside a network namespace.

#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

class ServiceProcess
{
public:
    static QString program() { return QStringLiteral(TOVRA_BIN_DIR "/TovraVPNService"); }

    ~ServiceProcess() { stop(); }

    // Starts the service and waits until it accepts connections on 127.0.0.1:56143 (seen from the calling
    // thread's namespace). This machine's resolver tool may be missing or know nothing of a namespace: with
    // resolvectlOutput the service finds a stand-in "resolvectl" printing it first on its PATH.
    bool start(const QStringList &prefix = {}, const QByteArray &resolvectlOutput = {})
    {
        if (!resolvectlOutput.isEmpty()) {
            m_bin = std::make_unique<QTemporaryDir>();
            QFile tool(m_bin->filePath(QStringLiteral("resolvectl")));
            if (!tool.open(QIODevice::WriteOnly))
                return false;
            tool.write("#!/bin/sh\ncat <<'EOF'\n" + resolvectlOutput + "EOF\n");
            tool.close();
            tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("PATH"), m_bin->path() + ':' + environment.value(QStringLiteral("PATH")));
            m_process.setProcessEnvironment(environment);
        }
        QStringList command = prefix + QStringList{program(), QStringLiteral("-e"), QStringLiteral("foreground")};
        m_process.setReadChannel(QProcess::StandardError);
        m_process.start(command.takeFirst(), command);
        QDeadlineTimer deadline(20000);
        while (m_process.waitForStarted() && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
            QTcpSocket probe;
            probe.connectToHost(QStringLiteral("127.0.0.1"), 56143);
            if (probe.waitForConnected(500))
                return waitForLog(QStringLiteral("New Connection"));
            QTest::qWait(100);
        }
        return false;
    }

    bool signal(int number) const
    {
        return m_process.processId() > 0 && ::kill(pid_t(m_process.processId()), number) == 0;
    }

    // Waits until the service has logged this text (standard error in the foreground) since the last call
    // that found one.
    bool waitForLog(const QString &text, int timeoutMs = 20000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (true) {
            const int at = log().indexOf(text, m_logPos);
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
        kill();
        return false;
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
    std::unique_ptr<QTemporaryDir> m_bin;
    QString m_log;
    int m_logPos = 0;
};
