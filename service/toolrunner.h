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
// Virtual so a test can stand in for the tools; commandPrefix lets a test run every tool elsewhere,
// e.g. {"ip", "netns", "exec", "name"}.
class ToolRunner
{
public:
    static constexpr int DefaultTimeoutMs = 30000;

    virtual ~ToolRunner();

    virtual ToolRun run(const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray());
    // Splits a command line into program and arguments the way the process launcher does.
    ToolRun runCommandLine(const QString &commandLine);

    int timeoutMs = DefaultTimeoutMs;
    QStringList commandPrefix;
};

// Tool output as text: the bytes up to the first NUL, read as Latin-1.
QString ToolText(const QByteArray &bytes);
// Splits text at "\n", "\r\n" or "\r", keeping empty lines.
QStringList ToolLines(const QString &text);
