#include <QDebug>
#include <QSysInfo>

#include "app/appcontext.h"
#include "app/apptypes.h"
#include "app/buildconstants.h"
#include "app/logfilewriter.h"
#include "app/startup.h"
#include "app/tovraapplication.h"
#include "ui/tovramainwindow.h"

namespace {

bool hasExitSwitch(int argc, char *argv[])
{
    for (int i = 0; i < argc; ++i) {
        if (qstrcmp(argv[i], "/exit") == 0)
            return true;
    }
    return false;
}

// "/exit" asks the running instance to quit; any other start while one runs brings it forward.
// Returns false when this process is to become the running instance.
bool handOverToRunningInstance(TovraApplication *app, int argc, char *argv[])
{
    if (hasExitSwitch(argc, argv)) {
        app->sendMessage(QStringLiteral("EXIT"), 5000);
        return true;
    }
    if (app->isRunning()) {
        app->sendMessage(QStringLiteral("ACTIVATE"), 5000);
        return true;
    }
    return false;
}

void logStart()
{
    qDebug().noquote() << BuildConstants::productShortName() + QStringLiteral(" started");
    LoadTranslation();
    qDebug().noquote() << QStringLiteral("Application version: ") + FormatVersion(ReadAppVersion());
    qDebug().noquote() << QStringLiteral("OS: ") + QSysInfo::prettyProductName();
    qDebug().noquote() << QStringLiteral("Kernel version: ") + QSysInfo::kernelVersion();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);

    auto *app = new TovraApplication(BuildConstants::applicationId(), argc, argv);
    AppContext::instance()->dataPaths()->setDir(QCoreApplication::applicationDirPath());
    LoadApplicationFont();
    if (handOverToRunningInstance(app, argc, argv)) {
        delete app;
        return 0;
    }

    qInstallMessageHandler(LogMessageHandler);
    logStart();

    auto *window = new TovraMainWindow;
    window->show();
    app->setActivationWindow(window, true);

    const int code = app->exec();
    LogFileWriter::instance()->enabled = false;
    delete window;
    delete app;
    return code;
}
