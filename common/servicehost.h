#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;
class ServiceHostPrivate;

// Base of a service program: runs under the system's service manager, or in the foreground
// for debugging and tests, and answers its own command-line options.
//
// Options are reached only with two or more arguments, the first naming the option:
//   -i ACCOUNT PASSWORD   register this program as the service (exit 0 on success)
//   -e foreground         run in the foreground until SIGTERM or SIGINT
//   -t now                stop the running service
//   -p now, -r now        pause, resume the running service
//   -u now                uninstall the service
// Without arguments the program runs as the service.
class ServiceHost
{
public:
    enum MessageType { Success = 0, Error, Warning, Information };
    enum ServiceFlag { Default = 0x00, CanBeSuspended = 0x01, CannotBeStopped = 0x02 };
    Q_DECLARE_FLAGS(ServiceFlags, ServiceFlag)

    // Creates the application object from argc and argv; argv must outlive the host.
    ServiceHost(int argc, char **argv, const QString &name);
    virtual ~ServiceHost();

    QString serviceName() const { return m_name; }
    QString serviceDescription() const { return m_description; }
    void setServiceDescription(const QString &description) { m_description = description; }
    ServiceFlags serviceFlags() const { return m_flags; }
    void setServiceFlags(ServiceFlags flags) { m_flags = flags; }

    // Folder of the registrations on Linux (a build constant by default); not used on Windows.
    void setRegistryDir(const QString &dir) { m_registryDir = dir; }
    QString registryDir() const { return m_registryDir; }

    // Runs the service, or the command-line option given with two or more arguments; returns the exit code.
    int exec();

    // Writes to the service log: the event log on Windows, syslog on Linux.
    void logMessage(const QString &message, MessageType type = Success);

    QCoreApplication *application() const { return m_app; }

protected:
    virtual void start() = 0;
    virtual void stop() {}
    virtual void pause() {}
    virtual void resume() {}

private:
    int m_argc;
    char **m_argv;
    QString m_name;
    QString m_description;
    QString m_registryDir;
    ServiceFlags m_flags = Default;
    QCoreApplication *m_app = nullptr;
    bool m_ownsApp = false;
    ServiceHostPrivate *m_d = nullptr;

    friend class ServiceHostPrivate;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ServiceHost::ServiceFlags)
