// tovra-tour: drives the real main window through a whole session inside the demo world (scripts/demo-world):
// sign-in, server choice, connect with the automatic protocol order (IKEv2 first), the guard's effect on the
// routing table, disconnect, OpenVPN chosen, DNS through the tunnel only, a dropped tunnel with the kill switch on
// (nothing reaches the provider outside the tunnel, over IPv4 and IPv6, also with a default route added back and
// after the helper was killed), the block lifted by hand, sign-out and "/exit". Prints each step and its result,
// saves a screenshot of each and ends with 0 only when every step passed.
#include "api/tlspolicy.h"
#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "app/apptypes.h"
#include "app/buildconstants.h"
#include "app/configuration.h"
#include "app/datapaths.h"
#include "app/logfilewriter.h"
#include "app/scramble.h"
#include "app/startup.h"
#include "app/tovraapplication.h"
#include "common/servicecontroller.h"
#include "common/serviceregistry_unix.h"
#include "servers/tovraservermanager.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovramainwindow.h"
#include "vpn/openvpnmanager.h"
#include "vpn/rasapi.h"
#include "vpn/rasapi_unix.h"

#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMutex>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocumentFragment>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

const int kLongWait = 90000;

QMutex g_logMutex;
QStringList g_log; // every log line of this run, as written to the log file

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&g_logMutex);
        g_log << message;
    }
    LogMessageHandler(type, context, message);
}

QStringList logLines()
{
    QMutexLocker lock(&g_logMutex);
    return g_log;
}

bool logHas(const QString &text)
{
    const QStringList lines = logLines();
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString &line) { return line.contains(text); });
}

QString run(const QStringList &command, int *exitCode = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(command.first(), command.mid(1));
    process.waitForFinished(30000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromLocal8Bit(process.readAll()).trimmed();
}

QString defaultRoute()
{
    return run({QStringLiteral("ip"), QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("show"),
                QStringLiteral("default")});
}

QString defaultRoute6()
{
    return run({QStringLiteral("ip"), QStringLiteral("-6"), QStringLiteral("route"), QStringLiteral("show"),
                QStringLiteral("default")});
}

// The routing decision for a packet to address; empty when there is no route.
QString routeTo(const QString &address)
{
    int code = 0;
    const QString out = run({QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("get"), address}, &code);
    return code == 0 ? out.section(QLatin1Char('\n'), 0, 0) : QString();
}

// "net:[inode]" of a process; empty when it cannot be read.
QByteArray netNamespaceOf(const QString &pid)
{
    char target[64] = {};
    const ssize_t size = ::readlink(QFile::encodeName(QStringLiteral("/proc/%1/ns/net").arg(pid)).constData(), target,
                                    sizeof(target) - 1);
    return size > 0 ? QByteArray(target, int(size)) : QByteArray();
}

// Processes of this network namespace (the demo world's user side) running the named program.
QStringList processesNamed(const QByteArray &program)
{
    const QByteArray own = netNamespaceOf(QStringLiteral("self"));
    QStringList pids;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : entries) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (pid.toInt() > 0 && comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == program &&
            netNamespaceOf(pid) == own)
            pids << pid;
    }
    return pids;
}

QStringList openVpnProcesses()
{
    return processesNamed("openvpn");
}

// The client's charon, not the demo world's responder.
QStringList charonProcesses()
{
    return processesNamed("charon");
}

// IPsec state and policies of this network namespace, a line each.
QString xfrm()
{
    return run({QStringLiteral("ip"), QStringLiteral("xfrm"), QStringLiteral("state")}) +
           run({QStringLiteral("ip"), QStringLiteral("xfrm"), QStringLiteral("policy")});
}

QString charonProgram()
{
    for (const char *path : {"/usr/lib/ipsec/charon", "/usr/libexec/ipsec/charon", "/usr/libexec/strongswan/charon"}) {
        if (QFileInfo(QLatin1String(path)).isExecutable())
            return QLatin1String(path);
    }
    return QString();
}

bool canReach(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(address, port);
    return socket.waitForConnected(3000);
}

QString peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return QString::fromLatin1(line.mid(6).simplified());
    }
    return QStringLiteral("unknown");
}

struct Options
{
    QString apiAddress;
    QString vpnAddress;
    QString ikeAddress;
    QString caFile;
    QString outDir;
    QString email;
    QString password;
    QString providerNamespace; // the demo world's provider side
    QString dnsAddress;        // the DNS server the OpenVPN server pushes
    QString resolverAddress6;  // a DNS server of the provider side reached over IPv6 outside the tunnel
    QString uplinkResolver;    // the user's link's own DNS server
};

// Whether the DNS server at server answers a query for name within two seconds.
bool dnsAnswers(const QString &server, const QString &name)
{
    int code = -1;
    const QString out = run({QStringLiteral("dig"), QStringLiteral("+time=2"), QStringLiteral("+tries=1"),
                             QStringLiteral("+short"), QLatin1Char('@') + server, name},
                            &code);
    return code == 0 && !out.isEmpty();
}

class Tour
{
public:
    explicit Tour(const Options &options) : m_options(options) {}

    // Everything up to the main window; false with a reason printed when the run cannot start.
    bool prepare();
    // The steps; returns when the last one has run or one has failed.
    void runSteps();
    // After the event loop ended: what the exit left behind and the log.
    void finish();
    bool passed() const { return m_failed == 0 && m_steps > 0; }

private:
    // One step: prints its name, runs it and prints its result; later steps are skipped after a failure.
    void step(const QString &name, const std::function<bool(QString *)> &body);
    bool waitFor(const std::function<bool()> &condition, int timeoutMs = kLongWait)
    {
        return QTest::qWaitFor(condition, timeoutMs);
    }
    template <typename T>
    T *widget(const char *name) const
    {
        return m_window->findChild<T *>(QLatin1String(name));
    }
    void click(const char *name) const { QTest::mouseClick(widget<QPushButton>(name), Qt::LeftButton); }
    // The status line as the user reads it, without its markup.
    QString status() const
    {
        return QTextDocumentFragment::fromHtml(widget<QLabel>("tovraMainStatusTextLabel")->text()).toPlainText();
    }
    void screenshot(const QString &name);
    bool registerServices(QString *error);
    bool signIn(QString *detail);
    // tunnel names the protocol expected to carry it, for the connect times.
    bool connectAndCheck(QString *detail, const QString &tunnel);
    StrongSwanSettings strongSwanSettings() const;
    // The default routes of the start (IPv4 and IPv6) put back as DHCP or a router advertisement would, then the
    // API, a resolver over IPv6 and the link's own resolver tried: true when none answered and the provider
    // counted no packet from the user's link outside the tunnel.
    bool nothingLeaks(QString *detail);
    QString inProvider(const QStringList &command, int *exitCode = nullptr) const
    {
        return run(QStringList{QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
                               m_options.providerNamespace} +
                       command,
                   exitCode);
    }

    Options m_options;
    QTemporaryDir m_dir{QDir::tempPath() + QStringLiteral("/tovra-tour-XXXXXX")};
    std::unique_ptr<TovraMainWindow> m_window;
    QStringList m_connectTimes;       // protocol and ms from the connect click to the connected state, per connect
    QString m_token;                  // the API token of the session, kept for the log check after the sign-out
    QPair<QString, QString> m_routes; // the IPv4 and IPv6 default routes of the start
    int m_steps = 0;
    int m_failed = 0;
};

void Tour::step(const QString &name, const std::function<bool(QString *)> &body)
{
    ++m_steps;
    std::printf("[%02d] %s ... ", m_steps, qPrintable(name));
    std::fflush(stdout);
    if (m_failed > 0) {
        std::printf("skipped\n");
        return;
    }
    QString detail;
    const bool ok = body(&detail);
    std::printf("%s%s%s\n", ok ? "ok" : "FAILED", detail.isEmpty() ? "" : ": ", qPrintable(detail));
    std::fflush(stdout);
    if (!ok)
        ++m_failed;
    QString file = name.toLower();
    file.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
    screenshot(QStringLiteral("%1-%2").arg(m_steps, 2, 10, QLatin1Char('0')).arg(file));
}

void Tour::screenshot(const QString &name)
{
    if (!m_window)
        return;
    m_window->grab().save(QDir(m_options.outDir).filePath(name + QStringLiteral(".png")));
    if (m_window->messageDialog()->isVisible())
        m_window->messageDialog()->grab().save(QDir(m_options.outDir).filePath(name + QStringLiteral("-message.png")));
}

// The helper service and OpenVPN as the install step registers them, in a registry of this run: the helper in
// the foreground with its state folder in this run's folder, OpenVPN on the conn.ovpn the helper writes there.
bool Tour::registerServices(QString *error)
{
    const QString helper = m_dir.filePath(QStringLiteral("TovraVPNService"));
    const QString openvpn = QStandardPaths::findExecutable(
        QStringLiteral("openvpn"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
    const QString state = m_dir.filePath(QStringLiteral("state"));
    if (openvpn.isEmpty()) {
        *error = QStringLiteral("openvpn is not installed");
        return false;
    }
    // A copy in a root-only folder: the registry starts nothing others could change.
    if (!QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/TovraVPNService"), helper) ||
        !QFile::setPermissions(helper, QFileDevice::Permissions(0x7555)) || !QDir().mkpath(state)) {
        *error = QStringLiteral("cannot prepare %1").arg(m_dir.path());
        return false;
    }
    const QString registry = m_dir.filePath(QStringLiteral("services"));
    ServiceRegistry::Registration service;
    service.name = QStringLiteral("TovraVPNService");
    service.isProgram = false;
    service.program = helper;
    service.arguments =
        QStringList{QStringLiteral("-e"), QStringLiteral("foreground"), QStringLiteral("-statedir"), state};
    ServiceRegistry::Registration tunnel;
    tunnel.name = QStringLiteral("OpenVPNService");
    tunnel.isProgram = false;
    tunnel.program = openvpn;
    tunnel.arguments = QStringList{QStringLiteral("--cd"), state, QStringLiteral("--config"),
                                   QDir(state).filePath(QStringLiteral("conn.ovpn"))};
    if (!ServiceRegistry::writeRegistration(registry, service, error) ||
        !ServiceRegistry::writeRegistration(registry, tunnel, error))
        return false;
    // charon as scripts/register-ikev2-service registers it, on the client's ikev2 folder.
    const StrongSwanSettings ikev2 = strongSwanSettings();
    ServiceRegistry::Registration charon;
    charon.name = ikev2.serviceName;
    charon.isProgram = false;
    charon.program = charonProgram();
    charon.binds = QStringList{ikev2.folder + QStringLiteral("/run:/run"),
                               ikev2.folder + QStringLiteral("/strongswan.conf:/etc/strongswan.conf")};
    if (charon.program.isEmpty()) {
        *error = QStringLiteral("strongSwan's charon is not installed");
        return false;
    }
    return ServiceRegistry::writeRegistration(registry, charon, error);
}

// The installed client's settings, with this run's registry and the provider's CA, which signed the world's
// IKEv2 server certificate.
StrongSwanSettings Tour::strongSwanSettings() const
{
    StrongSwanSettings settings = DefaultStrongSwanSettings();
    settings.registryDir = m_dir.filePath(QStringLiteral("services"));
    settings.caFiles << m_options.caFile;
    return settings;
}

bool Tour::prepare()
{
    AppContext *context = AppContext::instance();
    if (!m_dir.isValid() || !QDir().mkpath(m_options.outDir)) {
        std::fprintf(stderr, "tovra-tour: cannot make %s or a temporary folder\n", qPrintable(m_options.outDir));
        return false;
    }
    context->dataPaths()->setDir(m_dir.filePath(QStringLiteral("client")));
    QString error;
    if (!registerServices(&error)) {
        std::fprintf(stderr, "tovra-tour: %s\n", qPrintable(error));
        return false;
    }
    qInstallMessageHandler(captureLog);
    qDebug().noquote() << BuildConstants::productShortName() + QStringLiteral(" started");
    LoadApplicationFont();
    LoadTranslation();
    if (!TlsPolicy::trustCaFile(m_options.caFile)) {
        std::fprintf(stderr, "tovra-tour: cannot read the CA certificate %s\n", qPrintable(m_options.caFile));
        return false;
    }
    // The demo world's provider in place of the build's API, portal and map origins.
    TovraApiManager *api = context->apiManager();
    api->setApiBaseUrl(QStringLiteral("https://%1:%2").arg(m_options.apiAddress).arg(TOVRA_PROVIDER_API_PORT));
    api->setPortalBaseUrl(QStringLiteral("https://%1:%2").arg(m_options.apiAddress).arg(TOVRA_PROVIDER_PORTAL_PORT));
    api->setMapApiBaseUrl(api->portalBaseUrl());

    const QString registry = m_dir.filePath(QStringLiteral("services"));
    TovraMainWindow::Backends backends;
    backends.openVpnService = std::make_unique<ServiceController>(QStringLiteral("OpenVPNService"));
    backends.openVpnService->setRegistryDir(registry);
    backends.helperService = std::make_unique<ServiceController>(QStringLiteral("TovraVPNService"));
    backends.helperService->setRegistryDir(registry);
    backends.ras = CreateStrongSwanRasApi(strongSwanSettings());
    m_window = std::make_unique<TovraMainWindow>(std::move(backends));
    const QString apiAddress = m_options.apiAddress;
    m_window->setNetworkCheck([apiAddress] { return CheckActiveNetwork(apiAddress); });
    if (auto *app = qobject_cast<TovraApplication *>(QCoreApplication::instance()))
        app->setActivationWindow(m_window.get(), true);
    m_window->show();
    QTimer::singleShot(100, m_window.get(), &TovraMainWindow::Initialize);
    return true;
}

// The sign-in view takes the demo account; the start-up requests then bring the main view.
bool Tour::signIn(QString *detail)
{
    auto *email = widget<QLineEdit>("tovraLoginEmailEdit");
    auto *password = widget<QLineEdit>("tovraLoginPasswordEdit");
    auto *view = widget<QStackedWidget>("tovraCurrentView");
    if (!waitFor([&] { return view->currentWidget() == widget<QWidget>("tovraLoginPage"); }, 30000)) {
        *detail = QStringLiteral("the sign-in view did not appear");
        return false;
    }
    QTest::keyClicks(email, m_options.email);
    QTest::keyClicks(password, m_options.password);
    screenshot(QStringLiteral("00-sign-in-filled"));
    click("tovraLoginButton");
    if (!waitFor([&] { return m_window->connectionState() == StateDisconnected; })) {
        *detail = QStringLiteral("the main view did not appear");
        return false;
    }
    *detail = QStringLiteral("signed in as %1").arg(AppContext::instance()->authManager()->userData().email);
    // The demo provider offers a newer version: "Later", as a user who wants to go on would answer.
    TovraGenericDialog *notice = m_window->messageDialog();
    if (waitFor([&] { return notice->isVisible(); }, 2000)) {
        screenshot(QStringLiteral("00-update-notice"));
        *detail += QStringLiteral("; notice \"%1\" answered \"%2\"")
                       .arg(notice->findChild<QLabel *>(QStringLiteral("titleLabel"))->text(),
                            notice->findChild<QPushButton *>(QStringLiteral("secondaryButton"))->text());
        QTest::mouseClick(notice->findChild<QPushButton *>(QStringLiteral("secondaryButton")), Qt::LeftButton);
    }
    return view->currentWidget() == widget<QWidget>("tovraMainPage") && !notice->isVisible();
}

bool Tour::connectAndCheck(QString *detail, const QString &tunnel)
{
    // A popup left from before is no answer to this connect.
    m_window->messageDialog()->hide();
    QElapsedTimer clock;
    clock.start();
    click("tovraConnectButton");
    // Connected, or the client gave up and says why.
    if (!waitFor(
            [&] { return m_window->connectionState() == StateConnected || m_window->messageDialog()->isVisible(); }) ||
        m_window->connectionState() != StateConnected) {
        *detail = QStringLiteral("not connected; status \"%1\"").arg(status());
        return false;
    }
    const qint64 elapsed = clock.elapsed();
    // The kill switch takes the default route away once connected.
    if (!waitFor([] { return defaultRoute().isEmpty(); }, 30000)) {
        *detail = QStringLiteral("the default route is still there: ") + defaultRoute();
        return false;
    }
    m_connectTimes << QStringLiteral("%1 %2 ms").arg(tunnel).arg(elapsed);
    *detail = QStringLiteral("connected in %1 ms").arg(elapsed);
    return true;
}

bool Tour::nothingLeaks(QString *detail)
{
    run(QStringList{QStringLiteral("ip"), QStringLiteral("route"), QStringLiteral("replace")} +
        m_routes.first.split(QLatin1Char(' ')));
    run(QStringList{QStringLiteral("ip"), QStringLiteral("-6"), QStringLiteral("route"), QStringLiteral("replace")} +
        m_routes.second.split(QLatin1Char(' ')));
    const QStringList counter = {QStringLiteral("nft"), QStringLiteral("inet"), QStringLiteral("tovrawatch"),
                                 QStringLiteral("leaks")};
    inProvider(QStringList{QStringLiteral("nft"), QStringLiteral("reset"), QStringLiteral("counter")} + counter.mid(1));
    const bool v4 = canReach(m_options.apiAddress, TOVRA_PROVIDER_API_PORT);
    const QString name = QStringLiteral("check.") + BuildConstants::serviceDomain();
    const bool v6 = dnsAnswers(m_options.resolverAddress6, name);
    const bool dns = dnsAnswers(m_options.uplinkResolver, name);
    const QString listed = inProvider(
        QStringList{QStringLiteral("nft"), QStringLiteral("list"), QStringLiteral("counter")} + counter.mid(1));
    const QRegularExpressionMatch packets = QRegularExpression(QStringLiteral("packets (\\d+)")).match(listed);
    const QString reached = QStringLiteral("reached");
    const QString blocked = QStringLiteral("blocked");
    *detail =
        QStringLiteral("default routes \"%1\" / \"%2\"; API over IPv4 %3, resolver over IPv6 %4, link resolver %5; "
                       "provider counted %6 packets")
            .arg(defaultRoute(), defaultRoute6(), v4 ? reached : blocked, v6 ? reached : blocked,
                 dns ? reached : blocked, packets.hasMatch() ? packets.captured(1) : QStringLiteral("?"));
    return !v4 && !v6 && !dns && packets.hasMatch() && packets.captured(1) == QLatin1String("0");
}

void Tour::runSteps()
{
    AppContext *context = AppContext::instance();
    Configuration *config = context->config();
    const QString api = m_options.apiAddress;
    const QString before = defaultRoute();
    m_routes = {before, defaultRoute6()};

    step(QStringLiteral("Sign in through the sign-in view"), [&](QString *d) {
        const bool ok = signIn(d);
        m_token = context->apiManager()->token;
        return ok && !m_token.isEmpty();
    });
    step(QStringLiteral("Main view with the server list"), [&](QString *d) {
        const int rows = widget<QComboBox>("tovraServersBox")->count();
        *d = QStringLiteral("%1 servers").arg(rows);
        return rows > 0 && widget<QPushButton>("tovraConnectButton")->isVisible();
    });
    step(QStringLiteral("Choose a server"), [&](QString *d) {
        auto *box = widget<QComboBox>("tovraServersBox");
        const int row = box->findText(QStringLiteral("Netherlands"), Qt::MatchContains);
        box->setCurrentIndex(row >= 0 ? row : 0);
        *d = box->currentText();
        return box->currentIndex() >= 0;
    });
    step(QStringLiteral("Kill switch and DNS leak fix on, protocol Automatic"), [&](QString *d) {
        config->killSwitch = true;
        config->dnsLeakFix = true;
        config->protocol = Automatic;
        config->SaveSettings();
        m_window->ApplyConfiguration();
        *d = QStringLiteral("default routes before: \"%1\" / \"%2\"").arg(before, m_routes.second);
        return !before.isEmpty() && !m_routes.second.isEmpty();
    });
    step(QStringLiteral("Connect: the automatic order reaches the tunnel over IKEv2"), [&](QString *d) {
        if (!connectAndCheck(d, ProtocolToString(IKEv2)))
            return false;
        QStringList tried;
        const QStringList lines = logLines();
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("Automatic protocol set to:")))
                tried << line.mid(26).trimmed();
        }
        *d += QStringLiteral("; tried ") + tried.join(QStringLiteral(", "));
        return tried == QStringList{ProtocolToString(IKEv2)} && charonProcesses().size() == 1;
    });
    step(QStringLiteral("Assigned-IP check passed through the IPsec tunnel"), [&](QString *d) {
        const QString local = context->ipManager()->localIp;
        const QString assigned = context->ipManager()->assignedIp;
        *d = QStringLiteral("local %1, assigned %2").arg(local, assigned);
        // The provider sees the IKEv2 responder's address: the traffic came through its tunnel.
        return !local.isEmpty() && assigned == m_options.ikeAddress;
    });
    step(QStringLiteral("Traffic goes through the IPsec tunnel"), [&](QString *d) {
        const QString route = routeTo(api);
        *d = QStringLiteral("default route \"%1\"; %2").arg(defaultRoute(), route);
        *d += QStringLiteral("; status \"%1\"").arg(status());
        // strongSwan's own data path has the device ipsec0; the kernel's has IPsec policies instead.
        const bool tunnel = route.contains(QLatin1String("dev ipsec0")) ||
                            run({QStringLiteral("ip"), QStringLiteral("xfrm"), QStringLiteral("policy")})
                                .contains(QLatin1String("dir out"));
        if (logHas(QStringLiteral("(Add dns wfp filters) finished with result: false")))
            *d += QStringLiteral("; the helper set no DNS filters for this tunnel");
        return defaultRoute().isEmpty() && tunnel && status() == QLatin1String("Your connection is secured");
    });
    step(QStringLiteral("Disconnect: no charon, no IPsec state left"), [&](QString *d) {
        click("tovraDisconnectButton");
        const bool down = waitFor([&] {
            return m_window->connectionState() == StateDisconnected && defaultRoute() == before &&
                   charonProcesses().isEmpty() && xfrm().isEmpty();
        });
        *d = QStringLiteral("default route \"%1\", charon processes: %2, xfrm: \"%3\"")
                 .arg(defaultRoute(), charonProcesses().join(QLatin1Char(' ')), xfrm());
        return down;
    });
    step(QStringLiteral("Connect again, OpenVPN chosen"), [&](QString *d) {
        // A notice of the first connect (the DNS filters') is answered first.
        m_window->messageDialog()->hide();
        config->protocol = OpenVPN;
        config->dnsLeakFix = true; // switched off when the helper could not filter the first tunnel's DNS
        config->SaveSettings();
        m_window->ApplyConfiguration();
        if (!connectAndCheck(d, ProtocolToString(OpenVPN)))
            return false;
        const QString route = routeTo(api);
        *d += QStringLiteral("; %1; assigned %2").arg(route, context->ipManager()->assignedIp);
        return route.contains(QLatin1String("dev tun")) && context->ipManager()->assignedIp == m_options.vpnAddress;
    });
    step(QStringLiteral("DNS goes only to the server the tunnel pushed"), [&](QString *d) {
        const QString name = QStringLiteral("check.") + BuildConstants::serviceDomain();
        const bool passed =
            logHas(QStringLiteral("Sending command: \"VPN_DNS ") + m_options.dnsAddress + QLatin1Char('\\'));
        const bool filters =
            logHas(QStringLiteral("TovraVPNService task (Add dns wfp filters) finished with result: true"));
        const bool pushed = dnsAnswers(m_options.dnsAddress, name);
        const bool uplink = dnsAnswers(m_options.uplinkResolver, name);
        *d = QStringLiteral("VPN_DNS %1, filters %2; pushed server %3, link resolver %4")
                 .arg(passed ? QStringLiteral("sent") : QStringLiteral("not sent"),
                      filters ? QStringLiteral("in place") : QStringLiteral("refused"),
                      pushed ? QStringLiteral("answers") : QStringLiteral("silent"),
                      uplink ? QStringLiteral("answers") : QStringLiteral("blocked"));
        return passed && filters && pushed && !uplink;
    });
    step(QStringLiteral("OpenVPN killed: the drop is explained"), [&](QString *d) {
        const QStringList pids = openVpnProcesses();
        for (const QString &pid : pids)
            ::kill(pid.toInt(), SIGKILL);
        const bool explained = waitFor([&] {
            return logHas(QStringLiteral("Kill switch is enabled. No need to try to reconnect.")) &&
                   m_window->messageDialog()->isVisible();
        });
        *d = QStringLiteral("killed %1; status \"%2\"").arg(pids.join(QLatin1Char(' ')), status());
        return !pids.isEmpty() && explained && status() == QLatin1String("Your connection is not secured");
    });
    step(QStringLiteral("Nothing leaves outside the tunnel, default route or not, IPv4 or IPv6"), [&](QString *d) {
        m_window->messageDialog()->hide();
        return nothingLeaks(d);
    });
    step(QStringLiteral("The helper killed with SIGKILL: still nothing leaves"), [&](QString *d) {
        ServiceController helper(QStringLiteral("TovraVPNService"));
        helper.setRegistryDir(m_dir.filePath(QStringLiteral("services")));
        const qint64 pid = helper.processId();
        if (pid <= 0 || ::kill(pid_t(pid), SIGKILL) != 0) {
            *d = QStringLiteral("no helper process to kill");
            return false;
        }
        waitFor([&] { return !QFile::exists(QStringLiteral("/proc/%1").arg(pid)); }, 10000);
        const bool held = nothingLeaks(d);
        *d = QStringLiteral("killed %1; ").arg(pid) + *d;
        return held;
    });
    step(QStringLiteral("TovraVPNService -restore lifts the block: traffic flows again"), [&](QString *d) {
        int code = -1;
        const QString out = run({m_dir.filePath(QStringLiteral("TovraVPNService")), QStringLiteral("-restore"),
                                 QStringLiteral("-statedir"), m_dir.filePath(QStringLiteral("state"))},
                                &code);
        const bool flows = waitFor([&] { return canReach(api, TOVRA_PROVIDER_API_PORT); }, 30000);
        *d = QStringLiteral("-restore ended with %1 (%2); API %3")
                 .arg(code)
                 .arg(out.section(QLatin1Char('\n'), -1),
                      flows ? QStringLiteral("reachable") : QStringLiteral("unreachable"));
        return flows;
    });
    step(QStringLiteral("Sign out"), [&](QString *d) {
        // Through the account window, as a user signs out.
        m_window->OnAccountButtonPressed();
        QTest::mouseClick(m_window->accountDialog()->findChild<QPushButton *>(QStringLiteral("logoutButton")),
                          Qt::LeftButton);
        auto *confirm = m_window->accountDialog()->findChild<TovraGenericDialog *>();
        QTest::mouseClick(confirm->findChild<QPushButton *>(QStringLiteral("primaryButton")), Qt::LeftButton);
        auto *view = widget<QStackedWidget>("tovraCurrentView");
        QWidget *signInPage = widget<QWidget>("tovraLoginPage");
        QWidget *startPage = widget<QWidget>("tovraInitPage");
        auto *startError = widget<QLabel>("tovraInitErrorLabel");
        const QString tokenFile = AppContext::instance()->dataPaths()->tokenFile();
        // The sign-out gives back the route the kill switch held, so the start-up reaches the sign-in view.
        const bool left = waitFor(
            [&] {
                return !QFile::exists(tokenFile) && (view->currentWidget() == signInPage ||
                                                     (view->currentWidget() == startPage && startError->isVisible()));
            },
            60000);
        *d = QStringLiteral("token file %1, ")
                 .arg(QFile::exists(tokenFile) ? QStringLiteral("still there") : QStringLiteral("removed"));
        if (view->currentWidget() == signInPage)
            *d += QStringLiteral("sign-in view shown");
        else
            *d += QStringLiteral("start view: \"%1\", default route \"%2\"").arg(startError->text(), defaultRoute());
        return left && view->currentWidget() == signInPage && !defaultRoute().isEmpty();
    });
    step(QStringLiteral("Quit with \"/exit\""), [&](QString *d) {
        QProcess second;
        second.setProcessChannelMode(QProcess::MergedChannels);
        second.start(QCoreApplication::applicationDirPath() + QStringLiteral("/TovraVPN"), {QStringLiteral("/exit")});
        const bool ended = second.waitForFinished(30000) && second.exitStatus() == QProcess::NormalExit;
        *d = QStringLiteral("TovraVPN /exit ended with %1").arg(ended ? second.exitCode() : -1);
        if (!ended || second.exitCode() != 0)
            *d += QStringLiteral(": ") + QString::fromLocal8Bit(second.readAll());
        return ended && second.exitCode() == 0;
    });
}

void Tour::finish()
{
    const QString before = QStringLiteral("default via");
    step(QStringLiteral("After the exit: route back, no OpenVPN, no charon, helper stopped"), [&](QString *d) {
        const bool clean = waitFor(
            [] {
                return defaultRoute().startsWith(QLatin1String("default via")) && openVpnProcesses().isEmpty() &&
                       charonProcesses().isEmpty();
            },
            30000);
        ServiceController helper(QStringLiteral("TovraVPNService"));
        helper.setRegistryDir(m_dir.filePath(QStringLiteral("services")));
        *d = QStringLiteral("default route \"%1\"").arg(defaultRoute());
        return clean && !helper.isRunning();
    });
    step(QStringLiteral("The log unscrambles to the expected lines, without secrets"), [&](QString *d) {
        QFile file(AppContext::instance()->dataPaths()->logFile());
        if (!file.open(QIODevice::ReadOnly)) {
            *d = QStringLiteral("no log file ") + file.fileName();
            return false;
        }
        // "MMM dd hh:mm:ss | Level: " and the scrambled message, a line each.
        QString text;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const int level = line.indexOf(" | ");
            const int message = level < 0 ? -1 : line.indexOf(": ", level + 3);
            if (message > 0)
                text += QString::fromLatin1(line.left(message + 2)) +
                        UnscrambleText(QString::fromLatin1(line.mid(message + 2))) + QLatin1Char('\n');
        }
        QFile plain(QDir(m_options.outDir).filePath(QStringLiteral("TOVRA.log.txt")));
        if (plain.open(QIODevice::WriteOnly))
            plain.write(text.toUtf8());
        const QStringList expected = {QStringLiteral("via IKEv2"),
                                      QStringLiteral("IKEv2 data path: "),
                                      QStringLiteral("IKEv2 connection started..."),
                                      QStringLiteral("Assigned IP: ") + m_options.ikeAddress,
                                      QStringLiteral("IKEv2 disconnected."),
                                      QStringLiteral("via OpenVPN"),
                                      QStringLiteral("CONNECTED,SUCCESS"),
                                      QStringLiteral("Assigned IP: ") + m_options.vpnAddress,
                                      QStringLiteral("User pressed Disconnect button"),
                                      QStringLiteral("Disconnect reason: server dropped connection."),
                                      QStringLiteral("Kill switch is enabled. No need to try to reconnect.")};
        QStringList missing;
        for (const QString &line : expected) {
            if (!text.contains(line))
                missing << line;
        }
        const QString token = m_token;
        const bool leaks = text.contains(m_options.password) || (!token.isEmpty() && text.contains(token));
        *d = QStringLiteral("%1 lines").arg(text.count(QLatin1Char('\n')));
        if (!missing.isEmpty())
            *d += QStringLiteral("; missing: ") + missing.join(QStringLiteral(" | "));
        if (leaks)
            *d += QStringLiteral("; holds the password or the API token");
        return missing.isEmpty() && !leaks && !token.isEmpty();
    });
    std::printf("Connect click to connected: %s\n", qPrintable(m_connectTimes.join(QStringLiteral(", "))));
    std::printf("Client peak memory (VmHWM): %s\n", qPrintable(peakMemory()));
    m_window.reset();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps, true);
    TovraApplication app(BuildConstants::applicationId(), argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Drives the TOVRA VPN window through a session in the demo world."));
    parser.addHelpOption();
    const QCommandLineOption api(QStringLiteral("api-address"), QStringLiteral("Address of the provider's API."),
                                 QStringLiteral("address"));
    const QCommandLineOption vpn(QStringLiteral("vpn-address"), QStringLiteral("Address of the OpenVPN server."),
                                 QStringLiteral("address"));
    const QCommandLineOption ike(QStringLiteral("ike-address"), QStringLiteral("Address of the IKEv2 responder."),
                                 QStringLiteral("address"));
    const QCommandLineOption ca(QStringLiteral("ca"), QStringLiteral("CA certificate of the provider."),
                                QStringLiteral("file"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Folder for screenshots and the log."),
                                 QStringLiteral("dir"));
    const QCommandLineOption email(QStringLiteral("email"), QStringLiteral("Demo account."), QStringLiteral("email"),
                                   QStringLiteral("active@tovra.test"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Its password."),
                                      QStringLiteral("password"), QStringLiteral("Active-2026"));
    const QCommandLineOption provider(QStringLiteral("provider-namespace"),
                                      QStringLiteral("Network namespace of the provider side."),
                                      QStringLiteral("name"));
    const QCommandLineOption dns(QStringLiteral("dns-address"), QStringLiteral("DNS server the VPN pushes."),
                                 QStringLiteral("address"));
    const QCommandLineOption resolver6(QStringLiteral("resolver-address6"),
                                       QStringLiteral("IPv6 address of a DNS server of the provider side."),
                                       QStringLiteral("address"));
    const QCommandLineOption resolver(QStringLiteral("uplink-resolver"),
                                      QStringLiteral("DNS server and gateway of the user's link."),
                                      QStringLiteral("address"));
    parser.addOptions({api, vpn, ike, ca, out, email, password, provider, dns, resolver6, resolver});
    parser.process(app);
    if (!parser.isSet(api) || !parser.isSet(vpn) || !parser.isSet(ike) || !parser.isSet(ca) || !parser.isSet(out) ||
        !parser.isSet(provider) || !parser.isSet(dns) || !parser.isSet(resolver6) || !parser.isSet(resolver)) {
        std::fprintf(stderr, "tovra-tour: --api-address, --vpn-address, --ike-address, --ca, --out, "
                             "--provider-namespace, --dns-address, --resolver-address6 and --uplink-resolver are "
                             "needed\n");
        return 2;
    }
    if (app.isRunning()) {
        std::fprintf(stderr, "tovra-tour: a TOVRA VPN client already runs here\n");
        return 1;
    }

    Tour tour({parser.value(api), parser.value(vpn), parser.value(ike), parser.value(ca), parser.value(out),
               parser.value(email), parser.value(password), parser.value(provider), parser.value(dns),
               parser.value(resolver6), parser.value(resolver)});
    if (!tour.prepare())
        return 1;
    bool stepsDone = false;
    bool exitTimedOut = false;
    QTimer::singleShot(0, &app, [&] {
        tour.runSteps();
        stepsDone = true;
        // After a failed step the loop ends here; after "/exit" it must end by itself, soon.
        if (!tour.passed())
            QTimer::singleShot(0, &app, &QCoreApplication::quit);
        else
            QTimer::singleShot(30000, &app, [&] {
                exitTimedOut = true;
                std::printf("The client did not quit within 30 s of \"/exit\"\n");
                QCoreApplication::quit();
            });
    });
    app.exec();
    LogFileWriter::instance()->enabled = false;
    tour.finish();
    const bool ok = stepsDone && !exitTimedOut && tour.passed();
    std::printf("Tour %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
