#pragma once

#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "logcapture.h"

// Bound for waiting on an event; generous for a loaded machine.
constexpr int kWait = 20000;

// Runs the event loop until a timer started now has fired, so every timer due earlier has fired too.
inline void settle(int ms)
{
    QTimer probe;
    QSignalSpy fired(&probe, &QTimer::timeout);
    probe.start(ms);
    QVERIFY(fired.wait(kWait + ms));
}
