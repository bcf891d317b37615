#include "service/routetool.h"

#include "service/toolrunner.h"

#include <QDebug>

namespace {

// Windows' own route command, run through cmd.exe.
class WindowsRouteTool : public RouteTool
{
public:
    explicit WindowsRouteTool(ToolRunner &runner) : m_runner(runner) {}

    QStringList routeTable() override
    {
        const ToolRun run = m_runner.runCommandLine(QStringLiteral("cmd.exe /c route print"));
        return ToolLines(ToolText(run.output));
    }

    bool deleteDefaultRoute(const QString &gateway) override
    {
        return report(m_runner.runCommandLine(QStringLiteral("cmd.exe /c route delete 0.0.0.0 %1").arg(gateway)));
    }

    bool addDefaultRoute(const QString &gateway) override
    {
        return report(
            m_runner.runCommandLine(QStringLiteral("cmd.exe /c route add 0.0.0.0 mask 0.0.0.0 %1").arg(gateway)));
    }

private:
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
