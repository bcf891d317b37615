#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Outcome of one run of an outside tool.
struct ToolRun
{
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;
    QByteArray output;
    QByteArray errorOutput;

    bool succeeded() const { return started && !timedOut && exitCode == 0; }
};

// Runs the outside tools of the service (route, ip, nft, ipconfig, ...) and waits for each synchronously.
// Virtual so a test can stand in for the tools.
class ToolRunner
{
public:
    // The waits of a run; the defaults are the production values.
    struct Timings
    {
        int toolTimeoutMs = 30000; // start and finish of one tool together
    };

    virtual ~ToolRunner();

    virtual ToolRun run(const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray());
    // Splits a command line into program and arguments the way the process launcher does.
    ToolRun runCommandLine(const QString &commandLine);

    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }
    // Runs every tool through this command, e.g. {"ip", "netns", "exec", "name"}.
    void setCommandPrefix(const QStringList &prefix) { m_commandPrefix = prefix; }

private:
    Timings m_timings;
    QStringList m_commandPrefix;
};

// Tool output as text: the bytes up to the first NUL, read as Latin-1.
QString ToolText(const QByteArray &bytes);
// Splits text at "\n", "\r\n" or "\r", keeping empty lines.
QStringList ToolLines(const QString &text);
