#include "common/servicecontroller.h"

#include "common/serviceregistry_unix.h"

#include <QDebug>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstring>

using namespace ServiceRegistry;

namespace {

// Ten checks 200 ms apart, the first one at once.
template <typename Check>
bool waitFor(Check reached)
{
    bool done = reached();
    for (int i = 0; !done && i < 10; ++i) {
        QThread::msleep(200);
        done = reached();
    }
    return done;
}

} // namespace

QString ServiceController::defaultRegistryDir()
{
    return QStringLiteral(TOVRA_SERVICE_REGISTRY_DIR);
}

bool ServiceController::isInstalled() const
{
    Registration registration;
    return isValidServiceName(m_name) && readRegistration(m_registryDir, m_name, &registration);
}

bool ServiceController::isRunning() const
{
    Registration registration;
    Status status;
    return isValidServiceName(m_name) && readRegistration(m_registryDir, m_name, &registration) &&
           readStatus(m_registryDir, m_name, &status) && isServiceProcess(status, registration);
}

qint64 ServiceController::processId() const
{
    Registration registration;
    Status status;
    const bool running = isValidServiceName(m_name) && readRegistration(m_registryDir, m_name, &registration) &&
                         readStatus(m_registryDir, m_name, &status) && isServiceProcess(status, registration);
    return running ? status.pid : 0;
}

QString ServiceController::serviceFilePath() const
{
    Registration registration;
    if (!isValidServiceName(m_name) || !readRegistration(m_registryDir, m_name, &registration))
        return QString();
    return registration.program;
}

bool ServiceController::start(const QStringList &arguments)
{
    Registration registration;
    if (!isValidServiceName(m_name) || !readRegistration(m_registryDir, m_name, &registration)) {
        qDebug().noquote() << "Service" << m_name << "is not installed.";
        return false;
    }
    if (isRunning()) {
        qDebug().noquote() << "Service" << m_name << "is already running.";
        return false;
    }
    // A service program reads any argument as one of its options, never as a start parameter.
    if (registration.isProgram && !arguments.isEmpty()) {
        qDebug().noquote() << "Service" << m_name << "takes no start arguments.";
        return false;
    }
    QString error;
    if (!checkRegistration(m_registryDir, registration, &error)) {
        qDebug().noquote() << "Service" << m_name << "is not started:" << error;
        return false;
    }
    qint64 pid = 0;
    if (!spawnDetached(registration.program, registration.arguments + arguments, &pid, &error, registration.binds)) {
        qDebug().noquote() << "Service" << m_name << "cannot be started:" << error;
        return false;
    }
    Status status;
    status.pid = pid;
    status.startTime = processStartTime(pid);
    // A process that has ended already leaves no status behind; the service reads as stopped.
    if (status.startTime != 0 && !writeStatus(m_registryDir, m_name, status))
        qDebug().noquote() << "Service" << m_name
                           << "status file cannot be written:" << statusFile(m_registryDir, m_name);
    return true;
}

bool ServiceController::stop()
{
    Registration registration;
    Status status;
    if (!isValidServiceName(m_name) || !readRegistration(m_registryDir, m_name, &registration) ||
        !readStatus(m_registryDir, m_name, &status) || !isServiceProcess(status, registration)) {
        qDebug().noquote() << "Service" << m_name << "is not running.";
        return false;
    }
    if (::kill(pid_t(status.pid), SIGTERM) != 0) {
        qDebug().noquote() << "Service" << m_name
                           << "cannot be stopped:" << QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const bool stopped = waitFor([&] { return processStartTime(status.pid) != status.startTime; });
    if (!stopped) {
        qDebug().noquote() << "Service" << m_name << "did not stop in time.";
        return false;
    }
    removeStatus(m_registryDir, m_name, status.pid);
    return true;
}

namespace {

bool signalAndWait(const QString &dir, const QString &name, int signal, bool paused)
{
    Registration registration;
    Status status;
    if (!ServiceController::isValidServiceName(name) || !readRegistration(dir, name, &registration)) {
        qDebug().noquote() << "Service" << name << "is not installed.";
        return false;
    }
    if (!registration.isProgram || !registration.canBeSuspended) {
        qDebug().noquote() << "Service" << name << "cannot be suspended.";
        return false;
    }
    if (!readStatus(dir, name, &status) || !isServiceProcess(status, registration)) {
        qDebug().noquote() << "Service" << name << "is not running.";
        return false;
    }
    State state;
    if (!readState(dir, name, &state) || state.pid != status.pid) {
        qDebug().noquote() << "Service" << name << "is still starting.";
        return false;
    }
    if (state.paused == paused)
        return true;
    if (::kill(pid_t(status.pid), signal) != 0) {
        qDebug().noquote() << "Service" << name
                           << "cannot be signalled:" << QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const bool reached = waitFor([&] {
        State now;
        return readState(dir, name, &now) && now.pid == status.pid && now.paused == paused;
    });
    if (!reached)
        qDebug().noquote() << "Service" << name << "did not" << (paused ? "pause" : "resume") << "in time.";
    return reached;
}

} // namespace

bool ServiceController::pause()
{
    return signalAndWait(m_registryDir, m_name, SIGUSR1, true);
}

bool ServiceController::resume()
{
    return signalAndWait(m_registryDir, m_name, SIGUSR2, false);
}

bool ServiceController::uninstall()
{
    if (!isInstalled()) {
        qDebug().noquote() << "Service" << m_name << "is not installed.";
        return false;
    }
    if (isRunning()) {
        qDebug().noquote() << "Service" << m_name << "is running; stop it before uninstalling.";
        return false;
    }
    QFile::remove(statusFile(m_registryDir, m_name));
    QFile::remove(stateFile(m_registryDir, m_name));
    if (!QFile::remove(registrationFile(m_registryDir, m_name))) {
        qDebug().noquote() << "Service" << m_name << "registration cannot be removed.";
        return false;
    }
    return true;
}
