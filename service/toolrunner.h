#pragma once

#include <QByteArray>
#include <QElapsedTimer>
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
        int toolTimeoutMs = 30000;   // start and finish of one tool together
        int commandBudgetMs = 30000; // no further tool is started once a command has run this long
    };

    ToolRunner();
    virtual ~ToolRunner();

    // A program named without a folder is taken from the tool folders only, never from the caller's PATH.
    virtual ToolRun run(const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray());
    // Splits a command line into program and arguments the way the process launcher does.
    ToolRun runCommandLine(const QString &commandLine);

    void setTimings(const Timings &timings) { m_timings = timings; }
    const Timings &timings() const { return m_timings; }

    // Folders searched for programs named without a folder, in order (the system folders by default).
    void setToolDirs(const QStringList &dirs) { m_toolDirs = dirs; }
    const QStringList &toolDirs() const { return m_toolDirs; }
    // Full path of the program in the tool folders, or empty.
    QString findTool(const QString &program) const;

    // Starts and ends the time budget of one command; outside a command there is none.
    void beginCommand()
    {
        m_commandClock.start();
        m_outOfTime = false;
    }
    void endCommand() { m_commandClock.invalidate(); }
    // A tool was refused because the current command had run out of time.
    bool commandOutOfTime() const { return m_outOfTime; }

private:
    Timings m_timings;
    QStringList m_toolDirs;
    QElapsedTimer m_commandClock;
    bool m_outOfTime = false;
};

// Tool output as text: the bytes up to the first NUL, read as Latin-1.
QString ToolText(const QByteArray &bytes);
// Splits text at "\n", "\r\n" or "\r", keeping empty lines.
QStringList ToolLines(const QString &text);
// Writes one line to the service's debug output, exactly as given.
void ToolLog(const QString &line);
