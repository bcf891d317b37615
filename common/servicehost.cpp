#include "common/servicehost.h"

#include "common/servicecontroller.h"
#include "common/servicehost_p.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

ServiceHost::ServiceHost(int argc, char **argv, const QString &name)
    : m_argc(argc), m_argv(argv), m_name(name), m_registryDir(ServiceController::defaultRegistryDir())
{
    m_app = QCoreApplication::instance();
    if (m_app == nullptr) {
        m_app = new QCoreApplication(m_argc, m_argv);
        m_ownsApp = true;
    }
    m_d = new ServiceHostPrivate(this);
}

ServiceHost::~ServiceHost()
{
    delete m_d;
    if (m_ownsApp)
        delete m_app;
}

int ServiceHost::exec()
{
    QStringList words;
    for (int i = 1; i < m_argc; ++i)
        words << QString::fromLocal8Bit(m_argv[i]);
    if (words.isEmpty())
        return m_d->runService();

    const QString option = words.takeFirst();
    if (words.isEmpty()) {
        m_d->printError(QStringLiteral("Options need a word after them, e.g. \"%1 now\".").arg(option));
        return 1;
    }
    if (option == QLatin1String("-i"))
        return m_d->install(words.value(0), words.value(1)) ? 0 : 1;
    if (option == QLatin1String("-e"))
        return m_d->runForeground();

    ServiceController controller(m_name);
    controller.setRegistryDir(m_registryDir);
    bool ok = false;
    if (option == QLatin1String("-t")) {
        ok = controller.stop();
    } else if (option == QLatin1String("-p")) {
        ok = controller.pause();
    } else if (option == QLatin1String("-r")) {
        ok = controller.resume();
    } else if (option == QLatin1String("-u")) {
        ok = controller.uninstall();
    } else {
        m_d->printError(QStringLiteral("Unknown option %1. Options: -i ACCOUNT PASSWORD, -e foreground, -t now, "
                                       "-p now, -r now, -u now.")
                            .arg(option));
        return 1;
    }
    if (!ok)
        m_d->printError(QStringLiteral("The service %1 did not accept option %2.").arg(m_name, option));
    return ok ? 0 : 1;
}

void ServiceHost::logMessage(const QString &message, MessageType type)
{
    m_d->log(message, type);
}

int ServiceHostPrivate::runLoop(bool startAtOnce)
{
    if (startAtOnce)
        QTimer::singleShot(0, q->m_app, [this] { startService(); });
    const int code = q->m_app->exec();
    if (m_started) {
        m_started = false;
        q->stop();
    }
    m_paused = false;
    return code;
}

void ServiceHostPrivate::startService()
{
    m_started = true;
    q->start();
}

bool ServiceHostPrivate::pauseService()
{
    if (!(q->m_flags & ServiceHost::CanBeSuspended)) {
        log(QStringLiteral("Pause refused: the service cannot be suspended."), ServiceHost::Warning);
        return false;
    }
    if (m_paused)
        return false;
    q->pause();
    m_paused = true;
    return true;
}

bool ServiceHostPrivate::resumeService()
{
    if (!m_paused)
        return false;
    q->resume();
    m_paused = false;
    return true;
}

void ServiceHostPrivate::printError(const QString &text) const
{
    std::fprintf(stderr, "%s: %s\n", qPrintable(q->m_name), qPrintable(text));
}
