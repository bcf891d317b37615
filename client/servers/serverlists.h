#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>

#include "servers/tovraserver.h"

// The four lists built from one server-list reply.
struct ServerLists
{
    enum SmartKind { Regular, P2p, Streaming };

    QList<TovraServer> full;
    QList<TovraServer> smart;
    QList<TovraServer> fullB2b;
    QList<TovraServer> smartB2b;

    // Whether the smart list of that audience already has an entry of this kind for the country.
    bool hasSmartEntry(bool b2b, const QString &countryCode, SmartKind kind) const;
    // Marks every smart entry of the country as nearest.
    void setNearestCountry(bool b2b, const QString &countryCode);
};

// One server of the reply as a full-list record.
TovraServer parseServer(const QJsonObject &object);
// Appends the record to its full list and its smart entries to the smart list.
void addServer(ServerLists &lists, const TovraServer &server);
// Every element of the reply, in order.
ServerLists BuildServerLists(const QJsonArray &servers);

// Reply fields shared with the API manager.
bool jsonFlag(const QJsonValue &value);
// "location": {"coordinates": [longitude, latitude]}
void readCoordinates(const QJsonObject &object, double *latitude, double *longitude);
