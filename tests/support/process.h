#pragma once

// Running other programs from a test: to their end (runProcess), or in the background while the test
// talks to them (ChildProcess).

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <csignal>
#include <sys/types.h>

struct ProcessResult
{
    int exitCode = -1; // -1: not started, timed out or crashed
    QByteArray output; // standard output, with standard error when the channels were merged
    QString error;     // command, process error and output, for QVERIFY2 when the run failed

    bool ok() const { return exitCode == 0; }
};

// Runs command (program first) to its end; a run that outlasts timeoutMs is killed.
inline ProcessResult runProcess(QStringList command, QProcess::ProcessChannelMode mode = QProcess::SeparateChannels,
                                int timeoutMs = 30000)
{
    ProcessResult result;
    QProcess process;
    process.setProcessChannelMode(mode);
    const QString line = command.join(QLatin1Char(' '));
    process.start(command.takeFirst(), command);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.output = process.readAllStandardOutput();
    if (!result.ok())
        result.error = line + QStringLiteral(": exit ") + QString::number(result.exitCode) + QStringLiteral(", ") +
                       process.errorString() + QLatin1Char('\n') + QString::fromLocal8Bit(result.output) +
                       QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// A field of /proc/PID/stat counted from the one after the command name (0: the state, 19: the start
// time); empty when there is no such process.
inline QByteArray processStatField(qint64 pid, int index)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return text.isEmpty() ? QByteArray() : text.mid(text.lastIndexOf(')') + 2).split(' ').value(index);
}

// The process has ended (gone, or a zombie nobody reaped yet).
inline bool processGone(qint64 pid)
{
    const QByteArray state = processStatField(pid, 0);
    return state.isEmpty() || state == "Z";
}

// A program running beside the test, its output collected as it comes. Ended (SIGTERM, then SIGKILL)
// when the object goes, also when the test failed half-way.
class ChildProcess
{
public:
    explicit ChildProcess(QProcess::ProcessChannelMode mode = QProcess::MergedChannels)
    {
        m_process.setProcessChannelMode(mode);
    }
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool start(QStringList command, const QProcessEnvironment &environment = QProcessEnvironment())
    {
        m_output.clear();
        m_seen = 0;
        if (!environment.isEmpty())
            m_process.setProcessEnvironment(environment);
        m_process.start(command.takeFirst(), command);
        return m_process.waitForStarted(30000);
    }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }
    bool signal(int number) const { return pid() > 0 && ::kill(pid_t(pid()), number) == 0; }
    QProcess &process() { return m_process; }

    // Everything written so far (standard output; with the default mode standard error too).
    QByteArray output()
    {
        m_output += m_process.readAllStandardOutput();
        return m_output;
    }
    // Waits until text appears in the output after the place where the last call found its text.
    bool waitForOutput(const QByteArray &text, int timeoutMs = 30000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (true) {
            const int at = output().indexOf(text, m_seen);
            if (at >= 0) {
                m_seen = at + text.size();
                return true;
            }
            if (deadline.hasExpired() || !isRunning())
                return false;
            m_process.waitForReadyRead(100);
        }
    }

    // SIGTERM and a wait of up to timeoutMs; true when the program ended by itself.
    bool stop(int timeoutMs = 20000)
    {
        if (!isRunning())
            return true;
        signal(SIGTERM);
        const bool ended = m_process.waitForFinished(timeoutMs);
        if (!ended)
            kill();
        output();
        return ended;
    }
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished();
        output();
    }

private:
    QProcess m_process;
    QByteArray m_output;
    int m_seen = 0;
};
