#include "app/tovraapplication.h"

#include <QWidget>

#include "app/singleinstance.h"

TovraApplication::TovraApplication(const QString &appId, int &argc, char **argv)
    : TovraApplication(new SingleInstance(appId), argc, argv)
{}

TovraApplication::TovraApplication(SingleInstance *instance, int &argc, char **argv)
    : QApplication(argc, argv), m_instance(instance)
{
    m_instance->setParent(this);
    connect(m_instance, &SingleInstance::messageReceived, this, &TovraApplication::messageReceived);
}

TovraApplication::~TovraApplication() = default;

bool TovraApplication::isRunning()
{
    return m_instance->isRunning();
}

bool TovraApplication::sendMessage(const QString &message, int timeoutMs)
{
    return m_instance->sendMessage(message, timeoutMs);
}

void TovraApplication::setActivationWindow(QWidget *window, bool activateOnMessage)
{
    m_window = window;
    disconnect(this, &TovraApplication::messageReceived, this, &TovraApplication::OnMessageReceived);
    if (activateOnMessage)
        connect(this, &TovraApplication::messageReceived, this, &TovraApplication::OnMessageReceived);
}

void TovraApplication::OnMessageReceived(const QString &message)
{
    if (message == QLatin1String("EXIT")) {
        emit Exit();
    } else if (message == QLatin1String("ACTIVATE")) {
        emit Activate();
    } else if (m_window) {
        m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
        m_window->raise();
        m_window->activateWindow();
    }
}
