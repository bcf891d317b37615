#pragma once

#include <QApplication>
#include <QPointer>

class SingleInstance;

// The client's application object: single instance per user session, messages between instances.
class TovraApplication : public QApplication
{
    Q_OBJECT

public:
    TovraApplication(const QString &appId, int &argc, char **argv);
    // Takes over an instance guard made before the application object.
    TovraApplication(SingleInstance *instance, int &argc, char **argv);
    ~TovraApplication() override;

    bool isRunning();
    bool sendMessage(const QString &message, int timeoutMs = 5000);
    void setActivationWindow(QWidget *window, bool activateOnMessage = true);
    QWidget *activationWindow() const { return m_window; }

signals:
    void messageReceived(const QString &message);
    void Exit();
    void Activate();

public slots:
    void OnMessageReceived(const QString &message);

private:
    SingleInstance *m_instance;
    QPointer<QWidget> m_window;
};
