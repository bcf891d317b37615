#pragma once

#include "common/servicehost.h"

class ServiceHostPlatform;

// Shared state of a running host; the platform part lives in servicehost_unix.cpp / servicehost_win.cpp.
class ServiceHostPrivate
{
public:
    explicit ServiceHostPrivate(ServiceHost *host);
    ~ServiceHostPrivate();

    // Platform backend.
    bool install(const QString &account, const QString &password);
    int runService();
    int runForeground();
    void log(const QString &message, ServiceHost::MessageType type);

    // Neutral helpers (servicehost.cpp).
    // Runs the event loop, then stop() when the service was started. With startAtOnce, start() runs
    // from inside the loop (so it may quit the application); otherwise the backend calls startService().
    int runLoop(bool startAtOnce = true);
    void startService();
    // Pause or resume the service; false when refused or already in that state.
    bool pauseService();
    bool resumeService();
    bool isPaused() const { return m_paused; }
    void printError(const QString &text) const;

    ServiceHost *q;
    ServiceHostPlatform *platform = nullptr;

private:
    bool m_started = false;
    bool m_paused = false;
};
