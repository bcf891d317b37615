#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "service/firewallblock.h"
#include "service/routetool.h"

// What the kill switch took away and holds: the gateway its replies name, the route line it stood on, every
// default route taken away, whether the firewall block is to hold, the server it admits and the tunnel's
// device.
struct GatewayState
{
    QString gateway;
    QString entry;
    QList<DefaultRoute> routes;
    bool blocking = false;
    GuardServer server;
    QString tunnelDevice;

    bool isEmpty() const { return routes.isEmpty() && !blocking; }
};

// The kill switch's state file, so that a later run of the service (or "-restore") can put the routes back.
// Readable by its owner (root, the system account) only; replaced atomically.
class GatewayStateFile
{
public:
    explicit GatewayStateFile(const QString &dir);

    QString path() const { return m_path; }
    // False when there is no state file or it cannot be read.
    bool load(GatewayState *state) const;
    bool save(const GatewayState &state) const;
    // True when the file is gone afterwards.
    bool remove() const;

private:
    QString m_dir;
    QString m_path;
};

// The folder of the state file on this platform: beside the service registrations on Linux, under
// ProgramData on Windows.
QString DefaultStateDir();
// Makes the folder if it is missing, closed to everyone but the system account and administrators where
// the platform needs that; false when it cannot be made.
bool PrepareStateDir(const QString &dir);
