#pragma once

// Stand-ins for the routing table and the packet filter, for tests of the algorithms above them.

#include <QHash>
#include <QStringList>

#include "service/filterengine.h"
#include "service/routetool.h"

// A route table whose default route stays whatever is done to it.
class FakeRouteTool : public RouteTool
{
public:
    QStringList lines;
    QStringList calls;

    QStringList routeTable() override
    {
        calls << QStringLiteral("print");
        return lines;
    }
    bool deleteDefaultRoute(const QString &gateway) override
    {
        calls << QStringLiteral("delete ") + gateway;
        return false;
    }
    bool addDefaultRoute(const QString &gateway) override
    {
        calls << QStringLiteral("add ") + gateway;
        return false;
    }
};

// Records every call as text; results are set per operation ("open", "openStatic", "sublayer", "filter3",
// "commit", "close"; 0 when not set).
class FakeFilterEngine : public FilterEngine
{
public:
    QStringList calls;
    QHash<QString, quint32> results;
    bool sublayerPresent = false;
    VpnDnsLookup lookup{VpnDnsLookup::Found, QHostAddress(QStringLiteral("10.8.0.1"))};
    QHash<Handle, int> open; // open sessions and the filters added through each
    QList<FilterSpec> filters;
    Handle returnHandleOnFailure = 0;
    Handle lastHandle = 0;

    int filtersInForce() const
    {
        int count = 0;
        for (int n : open)
            count += n;
        return count;
    }

    quint32 openSession(bool dynamic, Handle *handle) override
    {
        calls << QStringLiteral("open %1").arg(dynamic ? "dynamic" : "static");
        const quint32 result = results.value(dynamic ? QStringLiteral("open") : QStringLiteral("openStatic"));
        *handle = result == 0 ? ++lastHandle : returnHandleOnFailure;
        if (*handle)
            open.insert(*handle, 0);
        return result;
    }
    quint32 closeSession(Handle session) override
    {
        calls << QStringLiteral("close %1").arg(session);
        open.remove(session);
        return results.value(QStringLiteral("close"));
    }
    bool hasSublayer(Handle session, const QUuid &) override
    {
        calls << QStringLiteral("has sublayer %1").arg(session);
        return sublayerPresent;
    }
    quint32 addSublayer(Handle session, const SublayerSpec &spec) override
    {
        calls << QStringLiteral("add sublayer %1 %2 %3").arg(session).arg(spec.name).arg(spec.weight);
        const quint32 result = results.value(QStringLiteral("sublayer"));
        sublayerPresent = result == 0;
        return result;
    }
    quint32 addFilter(Handle session, const FilterSpec &spec) override
    {
        filters << spec;
        calls << QStringLiteral("filter %1 %2").arg(session).arg(filters.size());
        const quint32 result = results.value(QStringLiteral("filter%1").arg(filters.size()));
        if (result == 0 && open.contains(session))
            open[session]++;
        return result;
    }
    quint32 commitSession(Handle session) override
    {
        calls << QStringLiteral("commit %1").arg(session);
        return results.value(QStringLiteral("commit"));
    }
    VpnDnsLookup findVpnDnsServer() override
    {
        calls << QStringLiteral("find dns");
        return lookup;
    }
    void removeLeftovers() override { calls << QStringLiteral("leftovers"); }
};
