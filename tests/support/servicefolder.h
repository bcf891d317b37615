#pragma once

// A copy of the test service program (tests/common/testservicehost.cpp, path in TESTSERVICEHOST_PATH) in a
// temporary folder: its registry ("services") and its event log ("events.log") sit beside it, so every
// test has its own. Services it registered are stopped when it goes.

#include "common/servicecontroller.h"
#include "process.h"
#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>

class ServiceFolder
{
public:
    static constexpr const char *serviceName = "TovraTestService";

    ServiceFolder()
    {
        // Mode 0755: the registry starts only programs nobody but root can change.
        m_ok = m_dir.isValid() && QFile::copy(QStringLiteral(TESTSERVICEHOST_PATH), program()) &&
               QFile::setPermissions(program(), QFileDevice::Permissions(0x7555));
    }
    ~ServiceFolder()
    {
        const QStringList registrations = QDir(registryDir()).entryList({QStringLiteral("*.service")}, QDir::Files);
        for (const QString &file : registrations) {
            ServiceController controller = this->controller(file.chopped(8));
            if (controller.isRunning())
                controller.stop();
        }
    }

    bool isValid() const { return m_ok; }
    QString path(const QString &name = QString()) const { return name.isEmpty() ? m_dir.path() : m_dir.filePath(name); }
    QString program() const { return path(QStringLiteral("testservicehost")); }
    QString registryDir() const { return path(QStringLiteral("services")); }

    ServiceController controller(const QString &name = QLatin1String(serviceName)) const
    {
        ServiceController controller(name);
        controller.setRegistryDir(registryDir());
        return controller;
    }
    // The pid the registry recorded for a running service.
    qint64 recordedPid(const QString &name = QLatin1String(serviceName)) const
    {
        return readFile(registryDir() + QLatin1Char('/') + name + QStringLiteral(".pid"))
            .split(' ')
            .value(0)
            .toLongLong();
    }

    // The events the service logged ("start", "pause", ...), and the pid that logged each.
    QStringList events() const { return column(0); }
    QList<qint64> eventPids() const
    {
        QList<qint64> pids;
        for (const QString &pid : column(1))
            pids << pid.toLongLong();
        return pids;
    }

    // Runs the program with arguments; its exit code (-1 when it did not end normally).
    int run(const QStringList &arguments) const { return runProcess(QStringList{program()} + arguments).exitCode; }

private:
    QStringList column(int index) const
    {
        QStringList values;
        for (const QByteArray &line : readFile(path(QStringLiteral("events.log"))).split('\n')) {
            if (!line.isEmpty())
                values << QString::fromUtf8(line.split(' ').value(index));
        }
        return values;
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
};
