#include "servers/serverlists.h"

#include <QDebug>
#include <QRegularExpression>

namespace {

QLatin1String boolText(bool value)
{
    return QLatin1String(value ? "true" : "false");
}

} // namespace

bool jsonFlag(const QJsonValue &value)
{
    return value.toInt(0) == 1;
}

void readCoordinates(const QJsonObject &object, double *latitude, double *longitude)
{
    const QJsonArray coordinates =
        object.value(QStringLiteral("location")).toObject().value(QStringLiteral("coordinates")).toArray();
    *longitude = coordinates.at(0).toDouble(0);
    *latitude = coordinates.at(1).toDouble(0);
}

bool ServerLists::hasSmartEntry(bool b2b, const QString &countryCode, SmartKind kind) const
{
    for (const TovraServer &server : b2b ? smartB2b : smart) {
        if (server.countryCode != countryCode)
            continue;
        if ((kind == Regular && !server.isP2p && !server.isStreaming) || (kind == P2p && server.isP2p) ||
            (kind == Streaming && server.isStreaming))
            return true;
    }
    return false;
}

void ServerLists::setNearestCountry(bool b2b, const QString &countryCode)
{
    const char *message =
        b2b ? "Is_nearest flag set in smart B2B server list on: " : "Is_nearest flag set in smart server list on: ";
    for (TovraServer &server : b2b ? smartB2b : smart) {
        if (server.countryCode == countryCode) {
            server.isNearest = true;
            qDebug().noquote() << QLatin1String(message) + server.displayName;
        }
    }
}

TovraServer parseServer(const QJsonObject &object)
{
    TovraServer server;
    server.countryCode = object.value(QStringLiteral("country_code")).toString();
    server.city = object.value(QStringLiteral("city")).toString();
    server.countryName = object.value(QStringLiteral("country_name")).toString();
    server.shortName = object.value(QStringLiteral("short_name")).toString();
    server.ip = object.value(QStringLiteral("ip")).toString();
    server.isP2p = jsonFlag(object.value(QStringLiteral("is_p2p")));
    server.isStreaming = jsonFlag(object.value(QStringLiteral("is_streaming")));
    server.isAlive = jsonFlag(object.value(QStringLiteral("is_alive")));
    server.isB2b = jsonFlag(object.value(QStringLiteral("is_b2b")));
    server.isNearest =
        jsonFlag(object.value(server.isB2b ? QStringLiteral("is_nearest_b2b") : QStringLiteral("is_nearest")));
    server.displayName = QStringLiteral("%1, %2").arg(server.countryName, server.city);
    server.key = server.shortName;
    server.featureIcon = ServerIcons::featureIcon(server.isP2p, server.isStreaming);
    readCoordinates(object, &server.latitude, &server.longitude);
    server.loadPercentage = object.value(QStringLiteral("load_percentage")).toInt(0);
    server.loadIcon = ServerIcons::loadIcon(server.loadPercentage);

    qDebug().noquote() << QStringLiteral("Found server: ") + server.displayName + QStringLiteral(" address: ") +
                              server.shortName + QStringLiteral(" ip: ") + server.ip + QStringLiteral(" is_nearest: ") +
                              boolText(server.isNearest) + QStringLiteral(" alive: ") + boolText(server.isAlive) +
                              QStringLiteral(" p2p: ") + boolText(server.isP2p) + QStringLiteral(" streaming: ") +
                              boolText(server.isStreaming) + QStringLiteral(" B2B: ") + boolText(server.isB2b);
    return server;
}

void addServer(ServerLists &lists, const TovraServer &record)
{
    const bool b2b = record.isB2b;
    (b2b ? lists.fullB2b : lists.full).append(record);
    qDebug().noquote() << QString(
        QStringLiteral("Server ") + record.shortName +
        (b2b ? QLatin1String(" added to full B2B list as ") : QLatin1String(" added to full list as ")) +
        record.displayName);

    // The smart entry stands for the first server of its country and kind; it never shows a load.
    static const QRegularExpression digits(QStringLiteral("[0-9]"));
    TovraServer server = record;
    const QString country = QString(server.countryName).remove(digits).trimmed();
    const QString code = server.countryCode.toLower();
    server.loadPercentage = 0;
    server.loadIcon = ServerIcons::loadIcon(0);
    const auto append = [&]() {
        (b2b ? lists.smartB2b : lists.smart).append(server);
        qDebug().noquote() << QString(
            QStringLiteral("Server ") + server.shortName +
            (b2b ? QLatin1String(" added to smart B2B list as ") : QLatin1String(" added to smart list as ")) +
            server.displayName);
    };

    bool streamingCase = server.isStreaming;
    if (server.isP2p) {
        if (!lists.hasSmartEntry(b2b, server.countryCode, ServerLists::P2p)) {
            server.displayName = QStringLiteral("%1, P2P server").arg(country);
            server.key = QStringLiteral("%1_p2p").arg(code);
            server.isStreaming = false;
            server.featureIcon = ServerIcons::featureIcon(true, false);
            append();
        }
        // A P2P and streaming server whose P2P slot was taken may still fill the streaming one.
        streamingCase = server.isStreaming;
    } else if (!server.isStreaming && !lists.hasSmartEntry(b2b, server.countryCode, ServerLists::Regular)) {
        server.displayName = country;
        server.key = QStringLiteral("%1_regular").arg(code);
        append();
    }
    if (streamingCase && !lists.hasSmartEntry(b2b, server.countryCode, ServerLists::Streaming)) {
        server.displayName = QStringLiteral("%1, Streaming server").arg(country);
        server.key = QStringLiteral("%1_streaming").arg(code);
        server.isP2p = false;
        server.featureIcon = ServerIcons::featureIcon(false, true);
        append();
    }

    if (server.isNearest)
        lists.setNearestCountry(b2b, server.countryCode);
}

ServerLists BuildServerLists(const QJsonArray &servers)
{
    ServerLists lists;
    for (const QJsonValue &value : servers)
        addServer(lists, parseServer(value.toObject()));
    return lists;
}
