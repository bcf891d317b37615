#include "service/routetool.h"

#include "common/windowssystem_win.h"
#include "service/toolrunner.h"

#include <QDebug>

namespace {

// Windows' own route command, run through the system folder's cmd.exe: the service runs with system
// rights and must not pick up a cmd.exe from its own or the current folder.
class WindowsRouteTool : public RouteTool
{
public:
    explicit WindowsRouteTool(ToolRunner &runner) : m_runner(runner) {}

    QStringList routeTable() override
    {
        const ToolRun run = runCmd({QStringLiteral("route"), QStringLiteral("print")});
        return ToolLines(ToolText(run.output));
    }

    bool deleteDefaultRoute(const QString &gateway) override
    {
        return report(runCmd({QStringLiteral("route"), QStringLiteral("delete"), QStringLiteral("0.0.0.0"), gateway}));
    }

    bool addDefaultRoute(const QString &gateway) override
    {
        return report(runCmd({QStringLiteral("route"), QStringLiteral("add"), QStringLiteral("0.0.0.0"),
                              QStringLiteral("mask"), QStringLiteral("0.0.0.0"), gateway}));
    }

private:
    // "cmd.exe /c" followed by the arguments; not started when the system folder cannot be read.
    ToolRun runCmd(const QStringList &arguments)
    {
        const QString cmd = WindowsSystem::systemFilePath(QStringLiteral("cmd.exe"));
        if (cmd.isEmpty())
            return ToolRun();
        return m_runner.run(cmd, QStringList(QStringLiteral("/c")) + arguments);
    }

    static bool report(const ToolRun &run)
    {
        if (!run.succeeded())
            qDebug().noquote() << "route failed:" << ToolText(run.output).trimmed();
        return run.succeeded();
    }

    ToolRunner &m_runner;
};

} // namespace

std::unique_ptr<RouteTool> CreateSystemRouteTool(ToolRunner &runner)
{
    return std::make_unique<WindowsRouteTool>(runner);
}
