#include "app/startatlogin.h"

#include <QDebug>
#include <QSettings>

bool applyStartAtLogin(bool enabled, const QString &programPath)
{
    QSettings run(QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"),
                  QSettings::NativeFormat);
    run.remove(QStringLiteral("TOVRA"));
    run.sync();
    if (enabled) {
        QString path = programPath;
        path.replace(QLatin1Char('/'), QLatin1Char('\\'));
        run.setValue(QStringLiteral("TOVRA"), QString(QLatin1Char('"') + path + QLatin1Char('"')));
        run.sync();
    }
    if (run.status() != QSettings::NoError) {
        qDebug() << "Start at login could not be changed in the registry";
        return false;
    }
    return true;
}
