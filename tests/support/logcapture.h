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

    QStringList lines() const;
    bool contains(const QString &line) const { return lines().contains(line); }
    // True when some line contains text.
    bool anyContains(const QString &text) const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);
    QtMessageHandler m_previous;
};
