// Renders the client's windows on the offscreen platform into PNG files, against the stand-in provider.
//
//   tovra-screenshots OUTPUT_DIR [SUFFIX]
//
// SUFFIX ("@2x") is appended to every file name; the scale itself comes from QT_SCALE_FACTOR. Every picture
// is listed on stdout with how its state came about: the window's own start-up and sign-in flow, clicks and
// the stand-in's answers.

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTranslator>
#include <cstdio>
#include <functional>
#include <thread>

#include "app/appcontext.h"
#include "app/startup.h"
#include "fakeservicecontroller.h"
#include "guard/tovraservicemanager.h"
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

    // settleFirst: let pending events run first; off where the shot is taken from inside the window's own work.
    bool shoot(QWidget *widget, const QString &name, const QString &how, bool settleFirst = true)
    {
        if (settleFirst)
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

void writeDataFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(data);
}

// The stand-in reports no newer version, so the start-up shows no update question.
bool scriptNoUpdate(StandInProvider *provider)
{
    return provider->script(QStringLiteral("/config/app/win"), 200,
                            QByteArrayLiteral("{\"version\": \"0.0.1\", \"build\": \"1\"}"));
}

class MainWindowRun
{
public:
    // A window started without a stored token, its start-up network checks answering `network`.
    explicit MainWindowRun(bool networkUp) : network(networkUp)
    {
        QFile::remove(AppContext::instance()->dataPaths()->tokenFile());
        TovraMainWindow::Backends backends;
        backends.ras.reset(m_ras = new ScreenRas);
        backends.openVpnService = std::make_unique<FakeServiceController>(QStringLiteral("OpenVPNService"));
        backends.helperService = std::make_unique<HelperController>();
        window = std::make_unique<TovraMainWindow>(std::move(backends));
        window->serviceManager()->setTimings({5000, 10, 5, 5000});
        window->ikev2Manager()->setTimings({5000, 1, 1, 5000, 1});
        TovraMainWindow::Timings timings;
        timings.startupCheckInterval = 1;
        window->setTimings(timings);
        window->setStartupNetworkChecks(
            [this] {
                if (onCheck)
                    onCheck();
                return network;
            },
            [this] { return network; });
        window->show();
        window->Initialize();
    }

    int view() const { return child<QStackedWidget>(window.get(), "tovraCurrentView")->currentIndex(); }

    bool toSignIn()
    {
        return waitFor([this] { return view() == 1; });
    }

    // Typed into the sign-in view's fields; the window enables LOGIN itself.
    bool enterCredentials(const QString &email, const QString &password)
    {
        child<QLineEdit>(window.get(), "tovraLoginEmailEdit")->setText(email);
        child<QLineEdit>(window.get(), "tovraLoginPasswordEdit")->setText(password);
        return child<QPushButton>(window.get(), "tovraLoginButton")->isEnabled();
    }

    // Signs in through the sign-in view; the start-up then runs against the stand-in up to the main view and
    // its map image.
    bool toMainView(const QString &email, const QString &password)
    {
        const QString mapLine = QStringLiteral("Map image updated");
        const int mapsBefore = LogCapture::count(mapLine);
        if (!toSignIn() || !enterCredentials(email, password))
            return false;
        child<QPushButton>(window.get(), "tovraLoginButton")->click();
        if (!waitFor([this] { return view() == 3 && window->connectionState() == StateDisconnected; }))
            return false;
        waitFor([&] { return LogCapture::count(mapLine) > mapsBefore; }, 10000);
        return true;
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
    bool network;
    std::function<void()> onCheck;

private:
    ScreenRas *m_ras = nullptr;
};

// The start view, its error states, the sign-in view and the password reset, in one window's start-up.
void startViews(Shooter &shots, StandInProvider *provider)
{
    MainWindowRun run(false);
    TovraMainWindow *w = run.window.get();
    int checks = 0;
    // Taken from inside the network wait, which keeps the start view up while it runs.
    run.onCheck = [&] {
        if (++checks == 3)
            shots.shoot(w, QStringLiteral("start"),
                        QStringLiteral("driven: start view during the start-up network wait"), false);
    };
    auto *retry = child<QPushButton>(w, "tovraInitRetryButton");
    if (!waitFor([retry] { return retry->isVisible(); })) {
        shots.fail(QStringLiteral("no-network start view not reached"));
        return;
    }
    run.onCheck = nullptr;
    shots.shoot(w, QStringLiteral("start-no-network"),
                QStringLiteral("driven: start-up network checks scripted to fail until the wait runs out"));

    run.network = true;
    retry->click();
    if (!run.toSignIn()) {
        shots.fail(QStringLiteral("sign-in view not reached"));
        return;
    }
    shots.shoot(w, QStringLiteral("sign-in"), QStringLiteral("driven: Retry with the network up, no stored token"));
    if (!run.enterCredentials(QStringLiteral("active@tovra.test"), QStringLiteral("Active-2026")))
        shots.fail(QStringLiteral("LOGIN not enabled by the entered credentials"));
    shots.shoot(w, QStringLiteral("sign-in-filled"),
                QStringLiteral("driven: credentials entered, LOGIN enabled by the window"));

    w->OnLinkActivated(QStringLiteral("forgotPasswordLink"));
    shots.shoot(w, QStringLiteral("password-reset"), QStringLiteral("driven: \"Forgot your password?\" link"));
    child<QPushButton>(w, "tovraPasswordCloseButton")->click();

    // The stand-in drops the server list request: the start-up stops with the API error.
    if (!provider->script(QJsonObject{{QStringLiteral("path"), QStringLiteral("/users/me/servers")},
                                      {QStringLiteral("hangup"), true}})) {
        shots.fail(QStringLiteral("server list script refused"));
        return;
    }
    child<QPushButton>(w, "tovraLoginButton")->click();
    if (!waitFor([w] { return child<QLabel>(w, "tovraInitSupportTicketLabel")->isVisible(); })) {
        shots.fail(QStringLiteral("API error start view not reached"));
        return;
    }
    shots.shoot(w, QStringLiteral("start-api-error"),
                QStringLiteral("driven: sign-in, then the stand-in drops the server list request"));
    if (!provider->reset() || !scriptNoUpdate(provider))
        shots.fail(QStringLiteral("stand-in not reset: ") + provider->errorString());
}

void mainViews(Shooter &shots, StandInProvider *provider, const QString &language, bool all)
{
    MainWindowRun run(true);
    if (!run.toMainView(QStringLiteral("active@tovra.test"), QStringLiteral("Active-2026"))) {
        shots.fail(QStringLiteral("main view (%1) not reached").arg(language));
        return;
    }
    const QString how = QStringLiteral(
        "driven: sign-in through the sign-in view, start-up, server list and map image from the stand-in");
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
    MainWindowRun run(true);
    if (!run.toMainView(QStringLiteral("business@tovra.test"), QStringLiteral("Business-2026"))) {
        shots.fail(QStringLiteral("business main view not reached"));
        return;
    }
    shots.shoot(run.window.get(), QStringLiteral("main-business"),
                QStringLiteral("driven: sign-in with the business demo account through the sign-in view"));
}

void dialogs(Shooter &shots)
{
    // The window's own settings and account windows, opened by its buttons after a sign-in.
    MainWindowRun run(true);
    if (!run.toMainView(QStringLiteral("active@tovra.test"), QStringLiteral("Active-2026"))) {
        shots.fail(QStringLiteral("main view not reached for the settings and account windows"));
        return;
    }
    child<QPushButton>(run.window.get(), "tovraMainSettingsButton")->click();
    TovraSettingsDialog *settings = run.window->settingsDialog();
    const char *tabs[] = {"general", "connection", "protocol", "support"};
    for (int tab = 0; tab < 4; ++tab) {
        settings->SetCurrentTab(tab);
        shots.shoot(settings, QStringLiteral("settings-") + QLatin1String(tabs[tab]),
                    QStringLiteral("driven: settings button, then SetCurrentTab(%1)").arg(tab));
    }
    settings->hide();

    child<QPushButton>(run.window.get(), "tovraMainAccountButton")->click();
    TovraAccountDialog *account = run.window->accountDialog();
    shots.shoot(account, QStringLiteral("account"), QStringLiteral("driven: account button, the stand-in's traffic"));
    account->hide();

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

    writeDataFile(context->dataPaths()->welcomeFile(), "false");
    if (!scriptNoUpdate(&fixture.provider)) {
        std::fprintf(stderr, "update answer not scripted: %s\n", qPrintable(fixture.provider.errorString()));
        return 1;
    }

    setLanguage(&translator, QStringLiteral("en"));
    startViews(shots, &fixture.provider);
    context->config()->killSwitch = true;
    mainViews(shots, &fixture.provider, QStringLiteral("en"), true);
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("nl"), QStringLiteral("de")}) {
        setLanguage(&translator, language);
        mainViews(shots, &fixture.provider, language, false);
    }
    setLanguage(&translator, QStringLiteral("en"));
    dialogs(shots);
    businessView(shots);
    return shots.failed() ? 1 : 0;
}
