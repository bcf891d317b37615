// The token file as the session loads it at start-up.
#include "fuzz/fuzzsupport.h"

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QGuiApplication>();
    AppContext::instance()->dataPaths()->setDir(Fuzz::scratchDir());
    EnsureParentDir(AppContext::instance()->dataPaths()->tokenFile());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TovraAuthManager *auth = AppContext::instance()->authManager();
    Fuzz::writeFile(AppContext::instance()->dataPaths()->tokenFile(), Fuzz::bytes(data, size));
    const bool loaded = auth->LoadToken();
    if (loaded == auth->userData().token.isEmpty())
        std::abort();
    return 0;
}
