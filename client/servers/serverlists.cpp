#include "servers/serverlists.h"

#include <QDebug>
#include <QHash>

bool jsonFlag(const QJsonValue &value)
{
    return value.toInt(0) == 1;
}

void readCoordinates(const QJsonObject &object, double *latitude, double *longitude)
{
    const QJsonArray coordinates =
        object.value(QLatin1String("location")).toObject().value(QLatin1String("coordinates")).toArray();
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

namespace {

// Fills a default record in place, so that building the lists copies no record into the full list.
void readServer(const QJsonObject &object, TovraServer &server)
{
    server.countryCode = object.value(QLatin1String("country_code")).toString();
    server.city = object.value(QLatin1String("city")).toString();
    server.countryName = object.value(QLatin1String("country_name")).toString();
    server.shortName = object.value(QLatin1String("short_name")).toString();
    server.ip = object.value(QLatin1String("ip")).toString();
    server.isP2p = jsonFlag(object.value(QLatin1String("is_p2p")));
    server.isStreaming = jsonFlag(object.value(QLatin1String("is_streaming")));
    server.isAlive = jsonFlag(object.value(QLatin1String("is_alive")));
    server.isB2b = jsonFlag(object.value(QLatin1String("is_b2b")));
    server.isNearest =
        jsonFlag(object.value(server.isB2b ? QLatin1String("is_nearest_b2b") : QLatin1String("is_nearest")));
    server.displayName = server.countryName % QLatin1String(", ") % server.city;
    server.key = server.shortName;
    server.featureIcon = ServerIcons::featureIcon(server.isP2p, server.isStreaming);
    readCoordinates(object, &server.latitude, &server.longitude);
    server.loadPercentage = object.value(QLatin1String("load_percentage")).toInt(0);
    server.loadIcon = ServerIcons::loadIcon(server.loadPercentage);

    const auto flag = [](bool value) { return value ? QLatin1String("true") : QLatin1String("false"); };
    qDebug().noquote() << QString(
        QLatin1String("Found server: ") % server.displayName % QLatin1String(" address: ") % server.shortName %
        QLatin1String(" ip: ") % server.ip % QLatin1String(" is_nearest: ") % flag(server.isNearest) %
        QLatin1String(" alive: ") % flag(server.isAlive) % QLatin1String(" p2p: ") % flag(server.isP2p) %
        QLatin1String(" streaming: ") % flag(server.isStreaming) % QLatin1String(" B2B: ") % flag(server.isB2b));
}

// The smart-entry kinds each country already has, per audience, so that building the lists does not scan the
// smart lists for every server.
struct SmartIndex
{
    QHash<QString, int> kinds[2];

    static int bit(ServerLists::SmartKind kind) { return 1 << kind; }
    bool has(bool b2b, const QString &countryCode, ServerLists::SmartKind kind) const
    {
        return kinds[b2b].value(countryCode) & bit(kind);
    }
    void add(bool b2b, const TovraServer &entry)
    {
        int &bits = kinds[b2b][entry.countryCode];
        if (!entry.isP2p && !entry.isStreaming)
            bits |= bit(ServerLists::Regular);
        if (entry.isP2p)
            bits |= bit(ServerLists::P2p);
        if (entry.isStreaming)
            bits |= bit(ServerLists::Streaming);
    }
};

// The country name without digits, trimmed.
QString smartCountryName(const QString &countryName)
{
    QString country;
    country.reserve(countryName.size());
    for (const QChar c : countryName) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            country.append(c);
    }
    return country.trimmed();
}

// Logs the record, already in its full list, and adds its smart entries.
void addServer(ServerLists &lists, const TovraServer &record, SmartIndex *index)
{
    const bool b2b = record.isB2b;
    qDebug().noquote() << QString(
        QStringLiteral("Server ") % record.shortName %
        (b2b ? QLatin1String(" added to full B2B list as ") : QLatin1String(" added to full list as ")) %
        record.displayName);

    const auto hasEntry = [&](ServerLists::SmartKind kind) {
        return index ? index->has(b2b, record.countryCode, kind) : lists.hasSmartEntry(b2b, record.countryCode, kind);
    };
    const bool p2pFree = record.isP2p && !hasEntry(ServerLists::P2p);
    const bool regularFree = !record.isP2p && !record.isStreaming && !hasEntry(ServerLists::Regular);
    // A P2P and streaming server whose P2P slot was taken may still fill the streaming one.
    const bool streamingFree = record.isStreaming && !p2pFree && !hasEntry(ServerLists::Streaming);
    if (!p2pFree && !regularFree && !streamingFree) {
        if (record.isNearest)
            lists.setNearestCountry(b2b, record.countryCode);
        return;
    }

    // The smart entry stands for the first server of its country and kind; it never shows a load.
    TovraServer server = record;
    const QString country = smartCountryName(server.countryName);
    const QString code = server.countryCode.toLower();
    server.loadPercentage = 0;
    server.loadIcon = ServerIcons::loadIcon(0);
    const auto append = [&]() {
        (b2b ? lists.smartB2b : lists.smart).append(server);
        if (index)
            index->add(b2b, server);
        qDebug().noquote() << QString(
            QStringLiteral("Server ") % server.shortName %
            (b2b ? QLatin1String(" added to smart B2B list as ") : QLatin1String(" added to smart list as ")) %
            server.displayName);
    };

    if (p2pFree) {
        server.displayName = country % QLatin1String(", P2P server");
        server.key = code % QLatin1String("_p2p");
        server.isStreaming = false;
        server.featureIcon = ServerIcons::featureIcon(true, false);
        append();
    } else if (regularFree) {
        server.displayName = country;
        server.key = code % QLatin1String("_regular");
        append();
    }
    if (streamingFree) {
        server.displayName = country % QLatin1String(", Streaming server");
        server.key = code % QLatin1String("_streaming");
        server.isP2p = false;
        server.featureIcon = ServerIcons::featureIcon(false, true);
        append();
    }

    if (server.isNearest)
        lists.setNearestCountry(b2b, server.countryCode);
}

} // namespace

TovraServer parseServer(const QJsonObject &object)
{
    TovraServer server;
    readServer(object, server);
    return server;
}

void addServer(ServerLists &lists, const TovraServer &record)
{
    (record.isB2b ? lists.fullB2b : lists.full).append(record);
    addServer(lists, record, nullptr);
}

ServerLists BuildServerLists(const QJsonArray &servers)
{
    ServerLists lists;
    SmartIndex index;
    lists.full.reserve(servers.size());
    for (const QJsonValue &value : servers) {
        const QJsonObject object = value.toObject();
        QList<TovraServer> &full = jsonFlag(object.value(QLatin1String("is_b2b"))) ? lists.fullB2b : lists.full;
        full.append(TovraServer());
        TovraServer &record = full.last();
        readServer(object, record);
        addServer(lists, record, &index);
    }
    return lists;
}
