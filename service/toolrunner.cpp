#include "service/toolrunner.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

ToolRunner::~ToolRunner() = default;

ToolRun ToolRunner::run(const QString &program, const QStringList &arguments, const QByteArray &input)
{
    ToolRun result;
    QString realProgram = program;
    QStringList realArguments = arguments;
    if (!m_commandPrefix.isEmpty()) {
        realProgram = m_commandPrefix.first();
        realArguments = m_commandPrefix.mid(1) + QStringList(program) + arguments;
    }

    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(realProgram, realArguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(m_timings.toolTimeoutMs)) {
        qDebug().noquote() << "Tool could not be started:" << program << process.errorString();
        return result;
    }
    result.started = true;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();

    const int left = qMax(0, m_timings.toolTimeoutMs - int(clock.elapsed()));
    if (!process.waitForFinished(left)) {
        result.timedOut = true;
        qDebug().noquote() << "Tool timed out:" << program;
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
