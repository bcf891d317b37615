#pragma once

#include <QFont>
#include <QTranslator>
#include <memory>

#include "app/configuration.h"
#include "app/datapaths.h"

class TovraApiManager;
class TovraAuthManager;
class TovraFacebookAuthManager;
class TovraGoogleAuthManager;
class TovraIpManager;
class TovraServerManager;
class TovraServerModel;

// The process-wide owner of the client's long-lived service objects. It is the one place that knows every
// manager; the folders below it (api, servers, vpn, guard) reach each other only through it or downwards.
class AppContext
{
public:
    static AppContext *instance();

    QFont appFont() const { return m_appFont; }
    void setAppFont(const QFont &font) { m_appFont = font; }
    DataPaths *dataPaths() { return m_dataPaths.get(); }
    Configuration *config() { return &m_config; }
    QTranslator *translator() { return m_translator.get(); }
    TovraApiManager *apiManager() { return m_apiManager.get(); }
    TovraServerManager *serverManager() { return m_serverManager.get(); }
    TovraAuthManager *authManager() { return m_authManager.get(); }
    TovraFacebookAuthManager *facebookAuthManager() { return m_facebookAuthManager.get(); }
    TovraGoogleAuthManager *googleAuthManager() { return m_googleAuthManager.get(); }
    TovraIpManager *ipManager() { return m_ipManager.get(); }
    TovraServerModel *serverModel() { return m_serverModel.get(); }
    // Builds a new model over the server manager's main list and deletes the previous one.
    TovraServerModel *RebuildServerModel();

private:
    AppContext();
    ~AppContext();
    Q_DISABLE_COPY(AppContext)

    // Created in this order, destroyed in reverse.
    QFont m_appFont;
    std::unique_ptr<DataPaths> m_dataPaths;
    std::unique_ptr<TovraApiManager> m_apiManager;
    Configuration m_config;
    std::unique_ptr<QTranslator> m_translator;
    std::unique_ptr<TovraServerManager> m_serverManager;
    std::unique_ptr<TovraAuthManager> m_authManager;
    std::unique_ptr<TovraFacebookAuthManager> m_facebookAuthManager;
    std::unique_ptr<TovraGoogleAuthManager> m_googleAuthManager;
    std::unique_ptr<TovraIpManager> m_ipManager;
    std::unique_ptr<TovraServerModel> m_serverModel;
};
