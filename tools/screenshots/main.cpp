// Renders the client's windows on the offscreen platform into PNG files, against the stand-in provider.
//
//   tovra-screenshots OUTPUT_DIR [SUFFIX]
//
// SUFFIX ("@2x") is appended to every file name; the scale itself comes from QT_SCALE_FACTOR. Every picture
// is listed on stdout with how its state came about: "driven" (signals, slots, clicks and the stand-in's
// answers) or "set" (put on the widgets by this program, where the window has no behaviour for it yet).

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <functional>
#include <thread>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "app/startup.h"
#include "fakeservicecontroller.h"
#include "guard/tovraservicemanager.h"
#include "servers/tovraservermanager.h"
#include "support/logcapture.h"
#include "support/standinprovider.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovramainwindow.h"
#include "ui/tovrasettingsdialog.h"
#include "ui/tovrawelcomedialog.h"
#include "vpn/ikev2manager.h"
#include "vpn/rasapi.h"

namespace {

constexpr RasHandle kHandle = 0x5150;

// RAS at its seam: every dial starts; connect() reports the connection up from a thread of its own.
class ScreenRas : public RasApi
{
public:
    RasNotifier notifier = nullptr;
    bool open = false;
    quint32 validateEntryName(const QString &) override { return Ras::ErrorAlreadyExists; }
    quint32 setEntryProperties(const QString &, const RasEntry &) override { return 0; }
    quint32 getEntryProperties(const QString &, RasEntry *) override { return 0; }
    quint32 setCredentials(const QString &, const RasCredentials &, bool) override { return 0; }
    quint32 dial(const RasDialParams &, RasNotifier n, RasHandle *handle) override
    {
        notifier = n;
        *handle = kHandle;
        open = true;
        return 0;
    }
    quint32 getConnectStatus(RasHandle, RasConnStatus *status) override
    {
        status->state = Ras::StateConnected;
        return open ? 0 : Ras::ErrorInvalidHandle;
    }
    quint32 hangUp(RasHandle) override
    {
        open = false;
        return 0;
    }
    quint32 getErrorString(quint32, int, QString *) override { return Ras::ErrorInvalidParameter; }
    quint32 deleteEntry(const QString &) override { return 0; }
    void dispatchMessages() override {}
    void connect()
    {
        RasNotifier n = notifier;
        std::thread([n] { n(kHandle, 0xCCCD, Ras::StateConnected, 0, 0); }).join();
    }
};

// The helper service's port: every command succeeds.
class HelperPeer : public QTcpServer
{
public:
    HelperPeer()
    {
        QObject::connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *peer = nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer] {
                const QString command = QString::fromLatin1(peer->readAll()).trimmed();
                const QString word = command.endsWith(QLatin1String("DNS_FILTERS"))
                                         ? QStringLiteral("DNS ") + command.left(command.indexOf(QLatin1Char('_')))
                                         : command;
                peer->write(QStringLiteral("SRV SUCCESS %1: done\n").arg(word).toLatin1());
            });
            QObject::connect(peer, &QTcpSocket::disconnected, peer, &QObject::deleteLater);
        });
    }
};

// The helper service as the service manager reports it: this process answers on its port.
class HelperController : public FakeServiceController
{
public:
    HelperController() : FakeServiceController(QStringLiteral("TovraVPNService")) {}
    qint64 processId() const override { return QCoreApplication::applicationPid(); }
};

bool waitFor(const std::function<bool()> &done, int timeoutMs = 30000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void settle()
{
    waitFor([] { return false; }, 300);
}

class Shooter
{
public:
    Shooter(const QString &dir, const QString &suffix) : m_dir(dir), m_suffix(suffix) {}

    bool shoot(QWidget *widget, const QString &name, const QString &how)
    {
        settle();
        const QString file = m_dir + QLatin1Char('/') + name + m_suffix + QStringLiteral(".png");
        const bool ok = widget->grab().save(file);
        std::printf("%s %s: %s\n", ok ? "wrote" : "FAILED", qPrintable(file), qPrintable(how));
        m_failed |= !ok;
        return ok;
    }
    bool failed() const { return m_failed; }
    void fail(const QString &why)
    {
        std::printf("FAILED: %s\n%s\n", qPrintable(why),
                    qPrintable(LogCapture::lines().mid(-40).join(QLatin1Char('\n'))));
        m_failed = true;
    }

private:
    QString m_dir;
    QString m_suffix;
    bool m_failed = false;
};

template <typename T>
T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

void setLanguage(QTranslator *translator, const QString &code)
{
    QCoreApplication::removeTranslator(translator);
    if (code != QLatin1String("en") && translator->load(QStringLiteral(TOVRA_BIN_DIR "/language/language_") + code))
        QCoreApplication::installTranslator(translator);
    QFile locale(AppContext::instance()->dataPaths()->localeFile());
    if (locale.open(QIODevice::WriteOnly))
        locale.write(code.toUtf8());
}

// Signs in through the stand-in and fetches the local address; false when the stand-in refuses.
bool signIn(const QString &email, const QString &password)
{
    AppContext *context = AppContext::instance();
    bool answered = false;
    bool ok = false;
    QObject guard;
    QObject::connect(context->authManager(), &TovraAuthManager::UserDataReceived, &guard,
                     [&](TovraAuthManager::eAuthResults result) {
                         answered = true;
                         ok = result == TovraAuthManager::AuthSuccess;
                     });
    context->authManager()->LoginEmail(email, password);
    if (!waitFor([&] { return answered; }) || !ok)
        return false;
    bool located = false;
    QObject::connect(context->ipManager(), &TovraIpManager::LocalIpDataReceived, &guard, [&] { located = true; });
    context->ipManager()->RequestLocalIp();
    return waitFor([&] { return located; });
}

class MainWindowRun
{
public:
    MainWindowRun()
    {
        TovraMainWindow::Backends backends;
        backends.ras.reset(m_ras = new ScreenRas);
        backends.openVpnService = std::make_unique<FakeServiceController>(QStringLiteral("OpenVPNService"));
        backends.helperService = std::make_unique<HelperController>();
        window = std::make_unique<TovraMainWindow>(std::move(backends));
        window->serviceManager()->setTimings({5000, 10, 5, 5000});
        window->ikev2Manager()->setTimings({5000, 1, 1, 5000, 1});
        // The map as the window shows it once its map slot exists.
        QObject::connect(AppContext::instance()->apiManager(), &TovraApiManager::MapImageReceived, window.get(),
                         [this](bool ok, const QImage &image) {
                             if (!ok)
                                 return;
                             QPixmap map = QPixmap::fromImage(image);
                             map.setDevicePixelRatio(image.width() > 500 ? 2.0 : 1.0);
                             child<QLabel>(window.get(), "tovraMainMapLabel")->setPixmap(map);
                             ++maps;
                         });
        window->show();
        window->Initialize();
    }

    // The start-up sequence: the answers of the sign-in and local-address steps (already fetched), then the
    // stand-in's server list, then the remaining steps' signals.
    bool toMainView()
    {
        AppContext *context = AppContext::instance();
        if (!waitFor([this] { return window->stateMachine()->isRunning(); }))
            return false;
        emit window->UserDataReceived();
        emit window->LocalIpUpdated();
        const int mapsBefore = maps;
        bool listed = false;
        QObject guard;
        QObject::connect(context->serverManager(), &TovraServerManager::ServersUpdated, &guard, [&] { listed = true; });
        context->apiManager()->GetServerList();
        if (!waitFor([&] { return listed; }))
            return false;
        emit window->OpenVpnConfigUpdated();
        emit window->UpdateDataReceived();
        if (!waitFor([this] { return window->connectionState() == StateDisconnected; }))
            return false;
        showMainPage();
        child<QLabel>(window.get(), "tovraMainStatusTextLabel")
            ->setText(QCoreApplication::translate("TovraMainWindow", "Your connection is %1not secured%2")
                          .arg(QStringLiteral("<font style=\"font-weight:bold; color: #dd4f32;\">"),
                               QStringLiteral("</font>")));
        waitFor([&] { return maps > mapsBefore; }, 10000);
        return true;
    }

    // The view stack and background as the view switch sets them.
    void showMainPage()
    {
        child<QStackedWidget>(window.get(), "tovraCurrentView")->setCurrentIndex(3);
        child<QWidget>(window.get(), "centralWidget")
            ->setStyleSheet(
                QStringLiteral("QWidget#centralWidget {image: url(:/main/resources/main/MainFormBackground.png);}"));
    }

    bool connecting()
    {
        child<QPushButton>(window.get(), "tovraConnectButton")->click();
        return waitFor([this] { return window->connectionState() == StateConnecting && m_ras->open; });
    }

    bool connected(StandInProvider *provider)
    {
        // The tunnel gives the client a new address, as a VPN server does.
        if (!provider->script(QJsonObject{{QStringLiteral("path"), QStringLiteral("/users/me/ip")},
                                          {QStringLiteral("status"), 200},
                                          {QStringLiteral("body"), QStringLiteral("{\"ip\": \"198.18.0.2\"}")},
                                          {QStringLiteral("times"), 2}}))
            return false;
        m_ras->connect();
        return waitFor([this] { return window->connectionState() == StateConnected; });
    }

    std::unique_ptr<TovraMainWindow> window;
    int maps = 0;

private:
    ScreenRas *m_ras = nullptr;
};

void startView(Shooter &shots)
{
    MainWindowRun run;
    TovraMainWindow *w = run.window.get();
    shots.shoot(w, QStringLiteral("start"), QStringLiteral("driven: the window right after Initialize()"));

    // The start view's error states, as the start-up flow leaves them.
    child<QLabel>(w, "tovraInitTextLabel")->hide();
    auto *error = child<QLabel>(w, "tovraInitErrorLabel");
    error->setText(QCoreApplication::translate(
        "TovraMainWindow",
        "There is no active Internet connection. Please check your network connection and click Retry."));
    error->show();
    child<QPushButton>(w, "tovraInitRetryButton")->show();
    shots.shoot(w, QStringLiteral("start-no-network"), QStringLiteral("set: error text and Retry shown"));

    child<QPushButton>(w, "tovraInitRetryButton")->hide();
    error->setText(QCoreApplication::translate("TovraMainWindow", "API error occurred with message:\n\"%1\"")
                       .arg(QStringLiteral("Service temporarily unavailable")));
    child<QLabel>(w, "tovraInitSupportTicketLabel")->show();
    shots.shoot(w, QStringLiteral("start-api-error"), QStringLiteral("set: API error text and ticket link shown"));

    child<QStackedWidget>(w, "tovraCurrentView")->setCurrentIndex(1);
    shots.shoot(w, QStringLiteral("sign-in"), QStringLiteral("set: view stack on the sign-in page"));
    child<QLineEdit>(w, "tovraLoginEmailEdit")->setText(QStringLiteral("active@tovra.test"));
    child<QLineEdit>(w, "tovraLoginPasswordEdit")->setText(QStringLiteral("Active-2026"));
    child<QPushButton>(w, "tovraLoginButton")->setEnabled(true);
    shots.shoot(w, QStringLiteral("sign-in-filled"), QStringLiteral("set: fields typed in, LOGIN enabled"));

    child<QStackedWidget>(w, "tovraCurrentView")->setCurrentIndex(2);
    shots.shoot(w, QStringLiteral("password-reset"), QStringLiteral("set: view stack on the password-reset page"));
}

void mainViews(Shooter &shots, StandInProvider *provider, const QString &language, bool all)
{
    MainWindowRun run;
    if (!run.toMainView()) {
        shots.fail(QStringLiteral("main view (%1) not reached").arg(language));
        return;
    }
    const QString how = QStringLiteral(
        "driven: sign-in, server list and map image from the stand-in, start-up steps' signals; set: main page, "
        "map image and not-secured text shown");
    if (!all) {
        shots.shoot(run.window.get(), QStringLiteral("main-") + language, how);
        return;
    }
    shots.shoot(run.window.get(), QStringLiteral("main-disconnected"), how);
    auto *picker = child<QComboBox>(run.window.get(), "tovraServersBox");
    picker->showPopup();
    shots.shoot(picker->view()->window(), QStringLiteral("picker-list"), QStringLiteral("driven: picker opened"));
    picker->hidePopup();
    if (!run.connecting()) {
        shots.fail(QStringLiteral("connecting state not reached"));
        return;
    }
    shots.shoot(run.window.get(), QStringLiteral("main-connecting"),
                QStringLiteral("driven: connect click, best server from the stand-in, IKEv2 dial started"));
    if (!run.connected(provider)) {
        shots.fail(QStringLiteral("connected state not reached"));
        return;
    }
    waitFor([] { return false; }, 1500);
    shots.shoot(
        run.window.get(), QStringLiteral("main-connected"),
        QStringLiteral("driven: RAS reports connected, assigned address checked with the stand-in (scripted to a new "
                       "address)"));
}

void businessView(Shooter &shots)
{
    MainWindowRun run;
    if (!run.toMainView()) {
        shots.fail(QStringLiteral("business main view not reached"));
        return;
    }
    // The business layout: the list choice above the picker, the frames below moved down.
    TovraMainWindow *w = run.window.get();
    child<QWidget>(w, "tovraMainPageServersOptionsFrame")->show();
    child<QWidget>(w, "tovraMainPageServersFrame")->move(0, 137);
    child<QWidget>(w, "tovraMainPageMapFrame")->setGeometry(QRect(QPoint(0, 196), QPoint(416, 369)));
    child<QRadioButton>(w, "tovraMainServersB2bRadioButton")->setChecked(true);
    shots.shoot(w, QStringLiteral("main-business"),
                QStringLiteral("driven: business account from the stand-in; set: list choice shown, frames moved"));
}

void dialogs(Shooter &shots)
{
    TovraSettingsDialog settings;
    settings.SetLoginText(QStringLiteral("active@tovra.test"));
    settings.show();
    const char *tabs[] = {"general", "connection", "protocol", "support"};
    for (int tab = 0; tab < 4; ++tab) {
        settings.SetCurrentTab(tab);
        shots.shoot(&settings, QStringLiteral("settings-") + QLatin1String(tabs[tab]),
                    QStringLiteral("driven: SetCurrentTab(%1)").arg(tab));
    }
    settings.hide();

    TovraAccountDialog account;
    account.SetAccountText(QStringLiteral("active@tovra.test"));
    account.SetTraffic(false, 10, 10240, 7.5, 7680);
    account.show();
    shots.shoot(&account, QStringLiteral("account"), QStringLiteral("driven: SetTraffic(10 GB, 7.50 GB left)"));
    account.hide();

    TovraWelcomeDialog welcome;
    welcome.show();
    shots.shoot(&welcome, QStringLiteral("welcome"), QStringLiteral("driven: first page"));
    welcome.hide();

    TovraGenericDialog message;
    message.Setup(QCoreApplication::translate("TovraSettingsDialog", "You have adjusted your settings."),
                  QCoreApplication::translate("TovraSettingsDialog", "Do you want to save these?"),
                  QCoreApplication::translate("TovraSettingsDialog", "SAVE"),
                  QCoreApplication::translate("TovraSettingsDialog", "CANCEL"), TovraGenericDialog::BothButtons);
    message.show();
    shots.shoot(&message, QStringLiteral("message"), QStringLiteral("driven: Setup() with two buttons"));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: tovra-screenshots OUTPUT_DIR [SUFFIX]\n");
        return 2;
    }
    if (!QDir().mkpath(args.at(1)))
        return 1;
    Shooter shots(args.at(1), args.value(2));

    ProviderFixture fixture;
    HelperPeer helper;
    if (!fixture.start() || !helper.listen(QHostAddress::LocalHost, TovraServiceManager::ServicePort)) {
        std::fprintf(stderr, "stand-in or helper port unavailable: %s\n",
                     qPrintable(fixture.provider.errorString() + helper.errorString()));
        return 1;
    }
    LoadApplicationFont();
    AppContext *context = AppContext::instance();
    QTranslator translator;

    setLanguage(&translator, QStringLiteral("en"));
    startView(shots);
    if (!signIn(QStringLiteral("active@tovra.test"), QStringLiteral("Active-2026"))) {
        shots.fail(QStringLiteral("sign-in refused by the stand-in"));
        return 1;
    }
    context->config()->killSwitch = true;
    mainViews(shots, &fixture.provider, QStringLiteral("en"), true);
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("nl"), QStringLiteral("de")}) {
        setLanguage(&translator, language);
        mainViews(shots, &fixture.provider, language, false);
    }
    setLanguage(&translator, QStringLiteral("en"));
    dialogs(shots);

    if (!signIn(QStringLiteral("business@tovra.test"), QStringLiteral("Business-2026")))
        shots.fail(QStringLiteral("business sign-in refused by the stand-in"));
    else
        businessView(shots);
    return shots.failed() ? 1 : 0;
}
