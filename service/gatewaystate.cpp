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
        if (key == QLatin1String("gateway"))
            loaded.gateway = value;
        else if (key == QLatin1String("entry"))
            loaded.entry = value;
        else if (key == QLatin1String("ipv6") && !value.isEmpty())
            loaded.ipv6Routes << value;
    }
    if (loaded.gateway.isEmpty()) {
        ToolLog(QStringLiteral("Kill switch state file names no gateway: ") + m_path);
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
    for (const QString &route : state.ipv6Routes)
        text += QStringLiteral("ipv6=") + oneLine(route) + QLatin1Char('\n');
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
