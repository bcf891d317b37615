#include "app/networkdiagnostics.h"
#include "common/windowssystem_win.h"

#include <QDir>
#include <QProcess>

namespace NetworkDiagnostics {

QString defaultShell()
{
    return WindowsSystem::systemFilePath(QStringLiteral("cmd.exe"));
}

QByteArray scriptText(int step, const QString &host, const QString &outputPath)
{
    const QString out = QLatin1Char('"') + QDir::toNativeSeparators(outputPath) + QLatin1Char('"');
    QString tool;
    if (step < 3 && host.isEmpty())
        tool = QStringLiteral("echo No usable API host ") + QLatin1String(step == 1 ? ">" : ">>") + QLatin1Char(' ');
    else if (step == 1)
        tool = QStringLiteral("nslookup ") + host + QStringLiteral(" > ");
    else if (step == 2)
        tool = QStringLiteral("ping ") + host + QStringLiteral(" >> ");
    else
        tool = QStringLiteral("ipconfig /all >> ");
    // The script runs in code page 1252, so it is written in the system's ANSI code page.
    return (QStringLiteral("chcp 1252\n") + tool + out + QLatin1Char('\n')).toLocal8Bit();
}

void prepareProcess(QProcess &process, const QString &shell, const QString &scriptPath)
{
    process.setProgram(shell);
    process.setArguments({});
    process.setNativeArguments(QStringLiteral("/C \"") + QDir::toNativeSeparators(scriptPath) + QLatin1Char('"'));
}

} // namespace NetworkDiagnostics
