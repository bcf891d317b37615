#pragma once

// A copy of testservicehost in a temporary folder: its registry ("services") and its event log
// ("events.log") sit beside it, so every test run has its own.
#include "common/servicecontroller.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestServiceFolder
{
public:
    static constexpr const char *serviceName = "TovraTestService";

    TestServiceFolder()
    {
        m_ok = m_dir.isValid() && QFile::copy(QStringLiteral(TESTSERVICEHOST_PATH), program()) &&
               QFile::setPermissions(program(), QFile::permissions(program()) | QFile::ExeOwner);
    }
    ~TestServiceFolder()
    {
        // Leave no service process behind, even when a test failed half-way.
        const QStringList registrations = QDir(registryDir()).entryList({QStringLiteral("*.service")}, QDir::Files);
        for (const QString &file : registrations) {
            ServiceController controller = this->controller(file.chopped(8));
            if (controller.isRunning())
                controller.stop();
        }
    }

    bool isValid() const { return m_ok; }
    QString path() const { return m_dir.path(); }
    QString program() const { return m_dir.path() + QStringLiteral("/testservicehost"); }
    QString registryDir() const { return m_dir.path() + QStringLiteral("/services"); }

    ServiceController controller(const QString &name = QLatin1String(serviceName)) const
    {
        ServiceController controller(name);
        controller.setRegistryDir(registryDir());
        return controller;
    }

    // The events.log lines ("event pid"), and their event words alone.
    QList<QByteArrayList> eventLines() const
    {
        QFile file(m_dir.path() + QStringLiteral("/events.log"));
        QList<QByteArrayList> lines;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray &line : file.readAll().split('\n')) {
                if (!line.isEmpty())
                    lines << line.split(' ');
            }
        }
        return lines;
    }
    QStringList events() const
    {
        QStringList events;
        for (const QByteArrayList &line : eventLines())
            events << QString::fromUtf8(line.value(0));
        return events;
    }

    // Runs the program with arguments and returns its exit code (-1 when it did not end normally).
    int run(const QStringList &arguments) const
    {
        QProcess process;
        process.start(program(), arguments);
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};
