#include "service/tcpdaemon.h"

#include "service/routetable.h"

#include <QTcpSocket>
#include <QTextStream>

TcpDaemon::TcpDaemon(QObject *parent)
    : QTcpServer(parent), m_tools(std::make_unique<ToolRunner>()), m_routes(CreateSystemRouteTool(*m_tools)),
      m_filters(CreateSystemFilterEngine(*m_tools)), dnsFilter(*m_filters)
{}

TcpDaemon::TcpDaemon(std::unique_ptr<RouteTool> routeTool, std::unique_ptr<FilterEngine> filterEngine, QObject *parent)
    : QTcpServer(parent), m_routes(std::move(routeTool)), m_filters(std::move(filterEngine)), dnsFilter(*m_filters)
{}

TcpDaemon::~TcpDaemon() = default;

void TcpDaemon::removeLeftoverFilters()
{
    m_filters->removeLeftovers();
}

void TcpDaemon::removeFilters()
{
    if (dnsFilter.filtersInForce())
        dnsFilter.removeFilters();
}

void TcpDaemon::incomingConnection(qintptr socketDescriptor)
{
    auto *socket = new QTcpSocket(this);
    if (disabled) {
        // Not served while paused; closed rather than left open with nobody to read it.
        socket->setSocketDescriptor(socketDescriptor);
        socket->abort();
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::readyRead, this, &TcpDaemon::readClient);
    connect(socket, &QTcpSocket::disconnected, this, &TcpDaemon::discardClient);
    socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
    emit serviceLog(QStringLiteral("New Connection"));
}

void TcpDaemon::readClient()
{
    if (disabled)
        return;
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (!socket)
        return;
    if (!socket->canReadLine()) {
        // A peer that sends on without a line end would be buffered without limit.
        if (socket->bytesAvailable() > MaxCommandBytes) {
            emit serviceLog(QStringLiteral("Command line too long, connection closed"));
            socket->abort();
            socket->deleteLater();
        }
        return;
    }

    const QString text = ToolText(socket->readAll()).trimmed();
    const QString word = text.split(QLatin1Char(' ')).first();

    QString reply;
    if (word == QLatin1String("ADD_DNS_FILTERS"))
        reply = addDnsFilters();
    else if (word == QLatin1String("REMOVE_DNS_FILTERS"))
        reply = removeDnsFilters();
    else if (word == QLatin1String("INFO"))
        reply = info();
    else if (word == QLatin1String("DELETE"))
        reply = deleteGateway();
    else if (word == QLatin1String("RESTORE"))
        reply = restoreGateway();
    else
        return;

    QTextStream stream(socket);
    stream.setCodec("ISO-8859-1");
    stream << reply;
    stream.flush();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

void TcpDaemon::discardClient()
{
    if (QObject *socket = sender())
        socket->deleteLater();
}

bool TcpDaemon::getDefaultGateway()
{
    const QStringList lines = m_routes->routeTable();
    const int index = RouteTable::findDefaultRoute(lines);
    if (index < 0)
        return false;
    savedGateway = RouteTable::fields(lines.at(index)).at(2);
    savedGatewayEntry = lines.at(index);
    return true;
}

bool TcpDaemon::isSavedGatewayExists()
{
    const QStringList lines = m_routes->routeTable();
    const int index = RouteTable::findDefaultRouteVia(lines, savedGateway);
    if (index < 0)
        return false;
    savedGatewayEntry = lines.at(index);
    return true;
}

QString TcpDaemon::addDnsFilters()
{
    if (dnsFilter.addFilters() == 0)
        return QStringLiteral("SRV SUCCESS DNS ADD: Wfp filters added");
    return QStringLiteral("SRV ERROR DNS ADD: ") + dnsFilter.lastError;
}

QString TcpDaemon::removeDnsFilters()
{
    if (dnsFilter.removeFilters() == 0)
        return QStringLiteral("SRV SUCCESS DNS REMOVE: Wfp filters removed");
    return QStringLiteral("SRV ERROR DNS REMOVE: ") + dnsFilter.lastError;
}

QString TcpDaemon::info()
{
    if (isSavedGatewayExists())
        return QStringLiteral("SRV SUCCESS INFO: Default gateway exists - ") + savedGateway;
    return QStringLiteral("SRV ERROR INFO: Default gateway (") + savedGateway + QStringLiteral(") not found");
}

QString TcpDaemon::deleteGateway()
{
    if (!getDefaultGateway())
        return QStringLiteral("SRV ERROR DELETE: Default gateway not found");
    m_routes->deleteDefaultRoute(savedGateway);
    if (isSavedGatewayExists())
        return QStringLiteral("SRV ERROR DELETE: Default gateway (") + savedGateway +
               QStringLiteral(") exists after removing");
    return QStringLiteral("SRV SUCCESS DELETE: Default gateway removed - ") + savedGateway;
}

QString TcpDaemon::restoreGateway()
{
    if (isSavedGatewayExists())
        return QStringLiteral("SRV ERROR RESTORE: Default gateway already exists - ") + savedGateway +
               QStringLiteral(" (Full entry: ") + savedGatewayEntry + QStringLiteral(")");
    m_routes->addDefaultRoute(savedGateway);
    if (isSavedGatewayExists())
        return QStringLiteral("SRV SUCCESS RESTORE: Default gateway restored - ") + savedGateway +
               QStringLiteral(" (Full entry: ") + savedGatewayEntry + QStringLiteral(")");
    return QStringLiteral("SRV ERROR RESTORE: Default gateway not found after restoring");
}
