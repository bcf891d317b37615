#include "service/toolrunner.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

ToolRunner::ToolRunner()
{
#ifndef Q_OS_WIN
    // The service runs as root: a tool is taken from the system's own folders, whatever PATH says.
    m_toolDirs = QStringList{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin"),
                             QStringLiteral("/bin")};
#endif
}

ToolRunner::~ToolRunner() = default;

QString ToolRunner::findTool(const QString &program) const
{
    if (QDir::isAbsolutePath(program))
        return program;
    if (program.contains(QLatin1Char('/')) || program.contains(QLatin1Char('\\')))
        return QString();
    for (const QString &dir : m_toolDirs) {
        const QFileInfo candidate(QDir(dir).filePath(program));
        if (candidate.isFile() && candidate.isExecutable())
            return candidate.filePath();
    }
    return QString();
}

ToolRun ToolRunner::run(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    ToolRun result;
    if (m_commandClock.isValid() && m_commandClock.elapsed() > m_timings.commandBudgetMs) {
        m_outOfTime = true;
        ToolLog(QStringLiteral("Tool not started, the command has run out of time: ") + program);
        return result;
    }
    const QString path = findTool(program);
    if (path.isEmpty()) {
        ToolLog(QStringLiteral("Tool not found in the system folders: ") + program);
        return result;
    }

    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(path, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(m_timings.toolTimeoutMs)) {
        ToolLog(QStringLiteral("Tool could not be started: ") + path + QStringLiteral(" (") + process.errorString() +
                QLatin1Char(')'));
        return result;
    }
    result.started = true;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();

    const int left = qMax(0, m_timings.toolTimeoutMs - int(clock.elapsed()));
    if (!process.waitForFinished(left)) {
        result.timedOut = true;
        ToolLog(QStringLiteral("Tool timed out: ") + path);
        process.kill();
        process.waitForFinished(1000);
    }
    result.output = process.readAllStandardOutput();
    result.errorOutput = process.readAllStandardError();
    if (!result.timedOut && process.exitStatus() == QProcess::NormalExit)
        result.exitCode = process.exitCode();
    return result;
}

ToolRun ToolRunner::runCommandLine(const QString &commandLine)
{
    QStringList parts = QProcess::splitCommand(commandLine);
    if (parts.isEmpty())
        return ToolRun();
    const QString program = parts.takeFirst();
    return run(program, parts);
}

QString ToolText(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

QStringList ToolLines(const QString &text)
{
    static const QRegularExpression lineEnd(QStringLiteral("\n|\r\n|\r"));
    return text.split(lineEnd);
}

void ToolLog(const QString &line)
{
    qDebug().noquote() << line;
}
