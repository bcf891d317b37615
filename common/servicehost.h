#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

// Base of a service program: runs under the system's service manager, or in the foreground
// for debugging and tests, and answers its own command-line options.
class ServiceHost
{
public:
    enum MessageType { Success = 0, Error, Warning, Information };
    enum ServiceFlag { Default = 0x00, CanBeSuspended = 0x01, CannotBeStopped = 0x02 };
    Q_DECLARE_FLAGS(ServiceFlags, ServiceFlag)

    ServiceHost(int argc, char **argv, const QString &name);
    virtual ~ServiceHost();

    QString serviceName() const { return m_name; }
    QString serviceDescription() const { return m_description; }
    void setServiceDescription(const QString &description) { m_description = description; }
    ServiceFlags serviceFlags() const { return m_flags; }
    void setServiceFlags(ServiceFlags flags) { m_flags = flags; }

    // Runs the service, or the command-line option given with two or more arguments; returns the exit code.
    int exec();

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
    ServiceFlags m_flags = Default;
    QCoreApplication *m_app = nullptr;

    friend class ServiceHostPrivate;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(ServiceHost::ServiceFlags)
