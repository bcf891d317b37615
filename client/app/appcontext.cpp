#include "app/appcontext.h"

#include "app/buildconstants.h"

AppContext *AppContext::instance()
{
    // Function-local static: thread-safe on first use, destroyed at process exit.
    static AppContext context;
    return &context;
}

AppContext::AppContext()
    : m_dataPaths(std::make_unique<DataPaths>(BuildConstants::productShortName())),
      m_translator(std::make_unique<QTranslator>())
{}

AppContext::~AppContext() = default;
