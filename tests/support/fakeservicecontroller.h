#pragma once

// Stands in for the operating system's service manager: records what is asked and plays the answers.

#include "common/servicecontroller.h"

#include <functional>

class FakeServiceController : public ServiceController
{
public:
    explicit FakeServiceController(const QString &name) : ServiceController(name) {}

    bool installed = true;
    bool acceptStart = true;
    bool acceptStop = true;
    int runningFromCheck = 1; // the check after an accepted start from which the service runs; 0: never
    std::function<void()> onStop;

    mutable bool running = false; // also the state before the first start
    mutable QStringList calls;    // "isInstalled", "isRunning", "start", "stop"

    int count(const QString &call) const { return calls.count(call); }

    bool isInstalled() const override
    {
        calls << QStringLiteral("isInstalled");
        return installed;
    }
    bool isRunning() const override
    {
        calls << QStringLiteral("isRunning");
        if (m_started && !running)
            running = runningFromCheck > 0 && ++m_checksSinceStart >= runningFromCheck;
        return running;
    }
    bool start(const QStringList &) override
    {
        calls << QStringLiteral("start");
        m_started = acceptStart;
        m_checksSinceStart = 0;
        return m_started;
    }
    bool stop() override
    {
        calls << QStringLiteral("stop");
        if (!acceptStop)
            return false;
        running = m_started = false;
        if (onStop)
            onStop();
        return true;
    }

private:
    bool m_started = false;
    mutable int m_checksSinceStart = 0;
};
