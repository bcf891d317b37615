#include <QDebug>
#include <QSysInfo>
#include <cstdio>

#include "app/appcontext.h"
#include "app/apptypes.h"
#include "app/buildconstants.h"
#include "app/logfilewriter.h"
#include "app/singleinstance.h"
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

// "/exit" asks the running instance to quit; any other start while one runs brings it forward. Decided before the
// GUI application exists, so that neither needs a display. Returns false when this process is to become the
// running instance; otherwise the guard is gone.
bool handOverToRunningInstance(SingleInstance *instance, int argc, char *argv[])
{
    const bool exit = hasExitSwitch(argc, argv);
    if (!exit && !instance->isRunning())
        return false;
    QCoreApplication core(argc, argv);
    const bool delivered = instance->sendMessage(exit ? QStringLiteral("EXIT") : QStringLiteral("ACTIVATE"), 5000);
    delete instance; // while its application object still exists
    if (!exit)
        fprintf(stderr, delivered ? "TOVRA VPN is already running; its window was brought forward.\n"
                                  : "TOVRA VPN is already running but did not answer.\n");
    return true;
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

    auto *instance = new SingleInstance(BuildConstants::applicationId());
    if (handOverToRunningInstance(instance, argc, argv))
        return 0;

    HoldEarlyMessages();
    auto *app = new TovraApplication(instance, argc, argv);
    instance->isRunning(); // listens now that the application exists
    AppContext::instance()->dataPaths()->setDir(QCoreApplication::applicationDirPath());
    LoadApplicationFont();

    StartLog();
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
