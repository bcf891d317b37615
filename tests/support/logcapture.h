#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the debug messages logged while it lives.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    Q_DISABLE_COPY(LogCapture)

    static QStringList lines();
    static bool contains(const QString &line) { return lines().contains(line); }
    static int count(const QString &line) { return lines().count(line); }
    // True when some line contains text.
    static bool anyContains(const QString &text);
    // Runs the event loop until line has been logged or timeoutMs has passed.
    static bool waitFor(const QString &line, int timeoutMs = 5000);
    static QString dump() { return lines().join(QLatin1Char('\n')); }
    static void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QtMessageHandler m_previous;
};
