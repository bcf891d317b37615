#pragma once

#include <QObject>

#include <memory>

// Tells, while started, when a default route of either family is added to any routing table. No polling:
// the system reports each change.
class RouteWatcher : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~RouteWatcher() override;

    // False (with a log line) when the system's notices cannot be had.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

signals:
    void defaultRouteAdded();
};

// The backend of this platform.
std::unique_ptr<RouteWatcher> CreateSystemRouteWatcher();
