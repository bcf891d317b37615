#include "service/gatewaystate.h"

#include "service/toolrunner.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

QString oneLine(QString text)
{
    return text.remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
}

} // namespace

GatewayStateFile::GatewayStateFile(const QString &dir)
    : m_dir(dir), m_path(QDir(dir).filePath(QStringLiteral("TovraVPNService.gateway")))
{}

bool GatewayStateFile::load(GatewayState *state) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    GatewayState loaded;
    const QStringList lines = QString::fromUtf8(file.read(64 * 1024)).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString key = line.section(QLatin1Char('='), 0, 0);
        const QString value = line.section(QLatin1Char('='), 1);
        DefaultRoute route;
        if (key == QLatin1String("gateway")) {
            loaded.gateway = value;
        } else if (key == QLatin1String("entry")) {
            loaded.entry = value;
        } else if (key == QLatin1String("route") || key == QLatin1String("ipv6")) {
            // "ipv6=" lines of earlier versions hold the same words without the family.
            const QString text = key == QLatin1String("ipv6") ? QStringLiteral("inet6 ") + value : value;
            if (DefaultRoute::fromText(text, &route))
                loaded.routes << route;
            else
                ToolLog(QStringLiteral("Kill switch state: not a default route: ") + value);
        } else if (key == QLatin1String("block")) {
            loaded.blocking = value == QLatin1String("1");
        } else if (key == QLatin1String("server")) {
            if (!GuardServer::fromWords(value.split(QLatin1Char(' ')), &loaded.server))
                ToolLog(QStringLiteral("Kill switch state: not a server: ") + value);
        } else if (key == QLatin1String("tunnel") && IsDeviceName(value)) {
            loaded.tunnelDevice = value;
        }
    }
    // Files of earlier versions name the IPv4 gateway only.
    if (loaded.routes.isEmpty() && !loaded.gateway.isEmpty()) {
        DefaultRoute route;
        if (DefaultRoute::fromText(QStringLiteral("inet via ") + loaded.gateway, &route))
            loaded.routes << route;
    }
    if (loaded.isEmpty()) {
        ToolLog(QStringLiteral("Kill switch state file names no route and no block: ") + m_path);
        return false;
    }
    *state = loaded;
    return true;
}

bool GatewayStateFile::save(const GatewayState &state) const
{
    if (!PrepareStateDir(m_dir)) {
        ToolLog(QStringLiteral("Kill switch state folder cannot be made: ") + m_dir);
        return false;
    }
    QString text = QStringLiteral("gateway=") + oneLine(state.gateway) + QStringLiteral("\nentry=") +
                   oneLine(state.entry) + QLatin1Char('\n');
    for (const DefaultRoute &route : state.routes)
        text += QStringLiteral("route=") + oneLine(route.toText()) + QLatin1Char('\n');
    if (state.blocking)
        text += QStringLiteral("block=1\n");
    if (state.server.isSet())
        text += QStringLiteral("server=") + oneLine(state.server.toText()) + QLatin1Char('\n');
    if (!state.tunnelDevice.isEmpty())
        text += QStringLiteral("tunnel=") + oneLine(state.tunnelDevice) + QLatin1Char('\n');
    QSaveFile file(m_path);
    const bool ok = file.open(QIODevice::WriteOnly) &&
                    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
                    file.write(text.toUtf8()) >= 0 && file.commit();
    if (!ok)
        ToolLog(QStringLiteral("Kill switch state file cannot be written: ") + m_path);
    return ok;
}

bool GatewayStateFile::remove() const
{
    if (!QFile::exists(m_path) || QFile::remove(m_path))
        return true;
    ToolLog(QStringLiteral("Kill switch state file cannot be removed: ") + m_path);
    return false;
}
