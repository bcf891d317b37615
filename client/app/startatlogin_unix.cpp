#include "app/startatlogin.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace {

// The program path as one quoted argument of an Exec key: inside the quotes a backslash escapes ", `, $ and
// itself; the key's value then escapes every backslash once more, and a literal % is written %%.
QString execArgument(const QString &path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    quoted.replace(QLatin1Char('%'), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool hasControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

} // namespace

bool applyStartAtLogin(bool enabled, const QString &programPath)
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::ConfigLocation) + QStringLiteral("/autostart");
    QFile entry(dir + QStringLiteral("/TOVRA.desktop"));
    if (entry.exists() && !entry.remove()) {
        qDebug().noquote() << "Start at login entry cannot be removed:" << entry.errorString();
        return false;
    }
    if (!enabled)
        return true;
    // A line break would end the Exec line early and let the rest of the path act as keys of its own.
    if (programPath.isEmpty() || hasControlCharacter(programPath)) {
        qDebug().noquote() << "Start at login not set: unusable program path" << programPath;
        return false;
    }
    const QString text = QStringLiteral("[Desktop Entry]\nType=Application\nName=TOVRA VPN\nExec=") +
                         execArgument(programPath) + QStringLiteral("\nX-GNOME-Autostart-enabled=true\n");
    const QByteArray bytes = text.toUtf8();
    if (!QDir().mkpath(dir) || !entry.open(QIODevice::WriteOnly) || entry.write(bytes) != bytes.size() ||
        !entry.flush()) {
        qDebug().noquote() << "Start at login entry cannot be written:" << entry.errorString();
        entry.remove();
        return false;
    }
    return true;
}
