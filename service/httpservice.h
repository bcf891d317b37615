#pragma once

#include "common/servicehost.h"
#include "service/tcpdaemon.h"

// The helper service: owns the command listener for the length of a run.
class HttpService : public ServiceHost
{
public:
    HttpService(int argc, char **argv, const QString &name, const TcpDaemon::Settings &settings = {});

    TcpDaemon *daemon() const { return m_daemon; }

protected:
    void start() override;
    void stop() override;
    void pause() override;
    void resume() override;

private:
    TcpDaemon::Settings m_settings;
    TcpDaemon *m_daemon = nullptr;
};
