#pragma once

// A copy of testservicehost in a temporary folder: its registry ("services") and its event log
// ("events.log") sit beside it, so every test run has its own.
#include "common/servicecontroller.h"

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
        m_program = m_dir.path() + QStringLiteral("/testservicehost");
        m_ok = m_dir.isValid() && QFile::copy(QStringLiteral(TESTSERVICEHOST_PATH), m_program) &&
               QFile::setPermissions(m_program, QFile::permissions(m_program) | QFile::ExeOwner);
    }
    ~TestServiceFolder()
    {
        // Leave no service process behind, even when a test failed half-way.
        ServiceController controller = this->controller();
        if (controller.isRunning())
            controller.stop();
    }

    bool isValid() const { return m_ok; }
    QString path() const { return m_dir.path(); }
    QString program() const { return m_program; }
    QString registryDir() const { return m_dir.path() + QStringLiteral("/services"); }

    ServiceController controller(const QString &name = QLatin1String(serviceName)) const
    {
        ServiceController controller(name);
        controller.setRegistryDir(registryDir());
        return controller;
    }

    // Lines of events.log as "event" words, without the process ids.
    QStringList events() const
    {
        QFile file(m_dir.path() + QStringLiteral("/events.log"));
        QStringList events;
        if (file.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = file.readAll().split('\n');
            for (const QByteArray &line : lines) {
                if (!line.isEmpty())
                    events << QString::fromUtf8(line.split(' ').value(0));
            }
        }
        return events;
    }
    // Process ids recorded with the events.
    QList<qint64> eventPids() const
    {
        QFile file(m_dir.path() + QStringLiteral("/events.log"));
        QList<qint64> pids;
        if (file.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> lines = file.readAll().split('\n');
            for (const QByteArray &line : lines) {
                if (!line.isEmpty())
                    pids << line.split(' ').value(1).toLongLong();
            }
        }
        return pids;
    }

    // Runs the program with arguments and returns its exit code (-1 when it did not end normally).
    int run(const QStringList &arguments, QByteArray *errorOutput = nullptr) const
    {
        QProcess process;
        process.start(m_program, arguments);
        if (!process.waitForFinished(20000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        if (errorOutput)
            *errorOutput = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

private:
    QTemporaryDir m_dir;
    QString m_program;
    bool m_ok = false;
};
