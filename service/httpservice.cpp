#include "service/httpservice.h"

#include "service/tcpdaemon.h"

#include <QCoreApplication>
#include <QHostAddress>

HttpService::HttpService(int argc, char **argv, const QString &name, const TcpDaemon::Settings &settings)
    : ServiceHost(argc, argv, name), m_settings(settings)
{}

void HttpService::start()
{
    m_daemon = new TcpDaemon(m_settings, application());
    QObject::connect(m_daemon, &TcpDaemon::serviceLog, [this](const QString &message) { logMessage(message); });
    m_daemon->removeLeftoverFilters();
    // A kill switch left on by an earlier run can still be undone, and its block holds meanwhile.
    m_daemon->loadGatewayState();
    m_daemon->resumeKillSwitch();
    // The only client is on this machine; nobody else may change its routes or filters.
    m_daemon->listen(QHostAddress::LocalHost, TcpDaemon::ServicePort);
    if (!m_daemon->isListening()) {
        logMessage(QStringLiteral("Failed to bind to port %1").arg(m_daemon->serverPort()), ServiceHost::Error);
        QCoreApplication::quit();
    }
}

void HttpService::stop()
{
    if (m_daemon)
        m_daemon->removeFilters();
}

void HttpService::pause()
{
    if (m_daemon)
        m_daemon->disabled = true;
    logMessage(QStringLiteral("Service paused"), ServiceHost::Information);
}

void HttpService::resume()
{
    if (m_daemon)
        m_daemon->disabled = false;
    logMessage(QStringLiteral("Service resumed"), ServiceHost::Information);
}
