#include "app/startup.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFontDatabase>
#include <QGuiApplication>

#include "app/appcontext.h"

bool LoadTranslation()
{
    AppContext *context = AppContext::instance();
    const QString code = ReadLocaleCode(context->dataPaths()->localeFile());
    const QString path = context->dataPaths()->translationFile(code);
    qDebug().noquote() << QStringLiteral("Loading translation from: ") + path;
    QTranslator *translator = context->translator();
    QCoreApplication::removeTranslator(translator);
    if (!translator->load(path))
        return false;
    QCoreApplication::installTranslator(translator);
    return true;
}

void LoadApplicationFont()
{
    AppContext *context = AppContext::instance();
    context->config()->LoadSettings();
    const int id =
        QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/resources/fonts/SourceSansPro-Regular.ttf"));
    const QStringList families = id != -1 ? QFontDatabase::applicationFontFamilies(id) : QStringList();
    context->setAppFont(families.isEmpty() ? QFont(QStringLiteral("Arial")) : QFont(families.first()));
    QGuiApplication::setFont(context->appFont());
}
