#include "app/startup.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QList>
#include <QMutex>
#include <QPair>
#include <cstdio>
#include <cstdlib>

#include "app/appcontext.h"
#include "app/logfilewriter.h"

namespace {

QMutex g_heldMutex;
QList<QPair<QtMsgType, QString>> g_held;
QtMessageHandler g_terminalHandler = nullptr;

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg || type == QtCriticalMsg) {
        QMutexLocker lock(&g_heldMutex);
        g_held.append({type, message});
        return;
    }
    if (g_terminalHandler && type != QtFatalMsg)
        g_terminalHandler(type, context, message);
    if (type == QtFatalMsg) {
        fprintf(stderr, "TOVRA VPN cannot start: %s\n", qPrintable(message));
        fflush(stderr);
        std::_Exit(1);
    }
}

} // namespace

void HoldEarlyMessages()
{
    g_terminalHandler = qInstallMessageHandler(holdMessage);
}

void StartLog()
{
    qInstallMessageHandler(LogMessageHandler);
    QMutexLocker lock(&g_heldMutex);
    for (const auto &held : qAsConst(g_held))
        LogFileWriter::instance()->write(held.first, held.second);
    g_held.clear();
}

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
