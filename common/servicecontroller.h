#pragma once

#include <QString>
#include <QStringList>

// Installs, starts, stops and queries a named system service.
// Methods are virtual so a test can stand in for the operating system at this seam.
//
// Windows: the service control manager. Linux: a registration file per service in a registry
// folder (see setRegistryDir) and a status file that tracks the running process.
class ServiceController
{
public:
    explicit ServiceController(const QString &name);
    virtual ~ServiceController();

    QString serviceName() const { return m_name; }

    // Folder of the registrations on Linux (a build constant by default); not used on Windows.
    void setRegistryDir(const QString &dir) { m_registryDir = dir; }
    QString registryDir() const { return m_registryDir; }
    static QString defaultRegistryDir();

    // The service manager knows the service.
    virtual bool isInstalled() const;
    // The service's state is anything but stopped.
    virtual bool isRunning() const;
    // Process id of the running service; 0 when it is not running or cannot be told.
    virtual qint64 processId() const;
    // Path of the registered program; empty when the service is not installed.
    virtual QString serviceFilePath() const;
    // The start request was accepted.
    virtual bool start(const QStringList &arguments = QStringList());
    // The service reached the stopped state within ten checks 200 ms apart.
    virtual bool stop();
    // The service reached the paused (resumed: running) state within ten checks 200 ms apart.
    virtual bool pause();
    virtual bool resume();
    // Removes the registration; refused while the service runs on Linux.
    virtual bool uninstall();

    // Registers programPath as a service by running it with "-i", account and password; true when that
    // run exits with 0. Account and password empty for the system account.
    static bool install(const QString &programPath, const QString &account = QString(),
                        const QString &password = QString());

    // Service names are also file names on Linux: letters, digits, '.', '_' and '-', not starting with '.'.
    static bool isValidServiceName(const QString &name);

private:
    QString m_name;
    QString m_registryDir;
};
