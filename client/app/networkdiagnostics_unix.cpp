#include "app/networkdiagnostics.h"

#include <QProcess>
#include <QStringList>

namespace {

// One shell word: single quotes, each ' written as '\''.
QString shellWord(QString text)
{
    text.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

} // namespace

namespace NetworkDiagnostics {

QString defaultShell()
{
    return QStringLiteral("/bin/sh");
}

QByteArray scriptText(int step, const QString &host, const QString &outputPath)
{
    const QString out = shellWord(outputPath);
    // The tools answer in one language, as "chcp" fixes the code page of the Windows script.
    QString script = QStringLiteral("LC_ALL=C; export LC_ALL\n");
    if (step < 3 && host.isEmpty()) {
        script += QStringLiteral("echo 'No usable API host' ") + QLatin1String(step == 1 ? ">" : ">>") +
                  QLatin1Char(' ') + out + QLatin1Char('\n');
    } else if (step == 1) {
        // exec: the tool itself is the process that the step's time limit ends.
        script += QStringLiteral("exec nslookup ") + shellWord(host) + QStringLiteral(" > ") + out +
                  QStringLiteral(" 2>&1\n");
    } else if (step == 2) {
        script += QStringLiteral("exec ping -c 4 ") + shellWord(host) + QStringLiteral(" >> ") + out +
                  QStringLiteral(" 2>&1\n");
    } else {
        script += QStringLiteral("{ ip addr; ip route; if command -v resolvectl >/dev/null 2>&1 && resolvectl status; "
                                 "then :; else cat /etc/resolv.conf; fi; } >> ") +
                  out + QStringLiteral(" 2>&1\n");
    }
    return script.toUtf8();
}

void prepareProcess(QProcess &process, const QString &shell, const QString &scriptPath)
{
    process.setProgram(shell);
    process.setArguments({scriptPath});
}

} // namespace NetworkDiagnostics
