#include "app/appcontext.h"

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovrafacebookauthmanager.h"
#include "api/tovragoogleauthmanager.h"
#include "app/buildconstants.h"
#include "api/tovraipmanager.h"
#include "servers/tovraservermanager.h"
#include "servers/tovraservermodel.h"

AppContext *AppContext::instance()
{
    // Function-local static: thread-safe on first use, destroyed at process exit.
    static AppContext context;
    return &context;
}

AppContext::AppContext()
    : m_dataPaths(std::make_unique<DataPaths>(BuildConstants::productShortName())),
      m_apiManager(std::make_unique<TovraApiManager>()), m_translator(std::make_unique<QTranslator>()),
      m_serverManager(std::make_unique<TovraServerManager>()), m_authManager(std::make_unique<TovraAuthManager>()),
      m_facebookAuthManager(std::make_unique<TovraFacebookAuthManager>()),
      m_googleAuthManager(std::make_unique<TovraGoogleAuthManager>()), m_ipManager(std::make_unique<TovraIpManager>())
{}

AppContext::~AppContext() = default;

TovraServerModel *AppContext::RebuildServerModel()
{
    m_serverModel = std::make_unique<TovraServerModel>(m_serverManager->GetMainList());
    return m_serverModel.get();
}
