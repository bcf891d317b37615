#pragma once

#include <QString>
#include <QStringList>

// Installs, starts, stops and queries a named system service.
// Methods are virtual so a test can stand in for the operating system at this seam.
class ServiceController
{
public:
    explicit ServiceController(const QString &name);
    virtual ~ServiceController();

    QString serviceName() const { return m_name; }

    // The service manager knows the service.
    virtual bool isInstalled() const;
    // The service's state is anything but stopped.
    virtual bool isRunning() const;
    // The start request was accepted.
    virtual bool start(const QStringList &arguments = QStringList());
    // The service reached the stopped state within ten checks 200 ms apart.
    virtual bool stop();
    virtual bool pause();
    virtual bool resume();
    virtual bool uninstall();

    // Registers programPath as a service; account and password empty for the system account.
    static bool install(const QString &programPath, const QString &account = QString(),
                        const QString &password = QString());

private:
    QString m_name;
};
