#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// One instance per user session: a lock file decides who runs, a local socket carries messages to it.
// A crashed first instance leaves a stale lock and socket; both are reclaimed by the next start.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    explicit SingleInstance(const QString &appId, QObject *parent = nullptr);
    ~SingleInstance() override;

    // True when another instance holds the session; otherwise this one becomes the running instance, and listens
    // for messages from the first call made while an application object exists.
    bool isRunning();
    // Delivers message to the running instance; false when none answered within timeoutMs.
    bool sendMessage(const QString &message, int timeoutMs);

    QString serverName() const { return m_serverName; }

signals:
    void messageReceived(const QString &message);

private:
    void onNewConnection();

    QString m_serverName;
    QLockFile m_lock;
    bool m_checked = false;
    bool m_primary = false;
    QLocalServer *m_server = nullptr;
};
