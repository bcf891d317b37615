// A service program for the service-control tests. It keeps its registry in "services" and appends
// its events to "events.log", both beside its own program file, so a test can run a copy in a temporary
// folder and read what happened there.
#include "common/servicehost.h"

#include <QCoreApplication>
#include <QFile>

#include <unistd.h>

class TestServiceHost : public ServiceHost
{
public:
    using ServiceHost::ServiceHost;

protected:
    void start() override
    {
        record("start");
        logMessage(QStringLiteral("Test service started"), Information);
        // "-e quit" ends the run from start(), as a service does when it cannot set up.
        if (QCoreApplication::arguments().value(2) == QLatin1String("quit"))
            QCoreApplication::exit(3);
    }
    void stop() override { record("stop"); }
    void pause() override { record("pause"); }
    void resume() override { record("resume"); }

private:
    void record(const QByteArray &event)
    {
        QFile file(QCoreApplication::applicationDirPath() + QStringLiteral("/events.log"));
        if (file.open(QIODevice::Append))
            file.write(event + ' ' + QByteArray::number(getpid()) + '\n');
    }
};

int main(int argc, char *argv[])
{
    TestServiceHost host(argc, argv, QStringLiteral("TovraTestService"));
    host.setRegistryDir(QCoreApplication::applicationDirPath() + QStringLiteral("/services"));
    host.setServiceDescription(QStringLiteral("TOVRA test service"));
    host.setServiceFlags(ServiceHost::CanBeSuspended);
    return host.exec();
}
