#include "common/servicecontroller.h"

#include <QDebug>

ServiceController::ServiceController(const QString &name) : m_name(name) {}

ServiceController::~ServiceController() = default;

// No platform backend is linked into this build yet: every request fails and says so.
namespace {
bool Unavailable(const QString &name, const char *request)
{
    qWarning().noquote() << QStringLiteral("Service control is not available in this build: %1 of %2 refused.")
                                .arg(QLatin1String(request), name);
    return false;
}
} // namespace

bool ServiceController::isInstalled() const
{
    return Unavailable(m_name, "is-installed");
}
bool ServiceController::isRunning() const
{
    return Unavailable(m_name, "is-running");
}
bool ServiceController::start(const QStringList &)
{
    return Unavailable(m_name, "start");
}
bool ServiceController::stop()
{
    return Unavailable(m_name, "stop");
}
bool ServiceController::pause()
{
    return Unavailable(m_name, "pause");
}
bool ServiceController::resume()
{
    return Unavailable(m_name, "resume");
}
bool ServiceController::uninstall()
{
    return Unavailable(m_name, "uninstall");
}

bool ServiceController::install(const QString &programPath, const QString &, const QString &)
{
    return Unavailable(programPath, "install");
}
