// RAS backend for Linux: the phone book lives in this process, IKEv2 dials go to strongSwan's charon.
#include "vpn/rasapi_unix.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <atomic>
#include <map>
#include <sys/utsname.h>

#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "app/datapaths.h"
#include "common/servicecontroller.h"

namespace {

constexpr quint32 ErrorNoConnection = 668; // ERROR_NO_CONNECTION
constexpr quint32 StrategyIkev2Only = 7;
constexpr quint32 NotifierType = 1;

// Dial progress as RAS reports it.
constexpr quint32 StateOpenPort = 0;
constexpr quint32 StatePortOpened = 1;
constexpr quint32 StateConnectDevice = 2;
constexpr quint32 StateDeviceConnected = 3;
constexpr quint32 StateAuthenticate = 5;
constexpr quint32 StateAuthenticated = 14;
constexpr quint32 StateProjected = 18;

const char *const NotAvailable = "L2TP/IPSec and PPTP tunnels are not available on Linux.";

QString toolPath(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
}

// Runs a tool to its end; its exit code, or -1 when it did not start or end in time.
int runTool(const QString &program, const QStringList &arguments, QString *output = nullptr, int limitMs = 10000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(toolPath(program), arguments);
    if (!process.waitForStarted(limitMs) || !process.waitForFinished(limitMs)) {
        process.kill();
        process.waitForFinished(1000);
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// With ESP in the kernel charon's SAs go there; without it the data path is charon's own (a TUN device ipsec0).
bool kernelHasEsp()
{
    if (QFileInfo::exists(QStringLiteral("/sys/module/esp4")))
        return true;
    struct utsname name;
    if (uname(&name) != 0)
        return false;
    const QString modules = QStringLiteral("/lib/modules/") + QString::fromLocal8Bit(name.release);
    for (const char *list : {"/modules.builtin", "/modules.dep"}) {
        QFile file(modules + QLatin1String(list));
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains("/esp4.ko"))
            return true;
    }
    return false;
}

bool writePrivateFile(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
           file.write(content) == content.size() && file.commit();
}

// Text swanctl.conf takes unquoted: a host name or an address.
bool isHostText(const QString &text)
{
    static const QRegularExpression host(QStringLiteral("^[A-Za-z0-9.:-]{1,253}$"));
    return host.match(text).hasMatch();
}

// An EAP identity written between double quotes: printable ASCII without quotes, backslashes and braces.
bool isIdentityText(const QString &text)
{
    static const QRegularExpression identity(QStringLiteral("^[!#-\\[\\]-z|~]{1,255}$"));
    return identity.match(text).hasMatch();
}

class StrongSwanRas;

// One dial: starts charon when it does not run, hands it the connection and follows the initiation on a
// thread of its own, reporting progress through the notifier.
struct DialJob
{
    StrongSwanSettings settings;
    QString connection; // swanctl name of the connection
    QByteArray swanctlConf;
    RasHandle handle = 0;
    RasNotifier notifier = nullptr;

    std::atomic<bool> cancelled{false};
    QMutex lock;
    quint32 state = StateOpenPort;
    quint32 error = 0;
    bool finished = false;
    bool connected = false;
    QStringList hostRoute; // "ip route" arguments of the route to the server outside the tunnel

    void notify(quint32 newState, quint32 newError = 0, quint32 extended = 0)
    {
        {
            QMutexLocker locker(&lock);
            state = newState;
            error = newError;
        }
        if (!cancelled && notifier)
            notifier(handle, NotifierType, newState, newError, extended);
    }
    void fail(quint32 code, quint32 extended = 0)
    {
        {
            QMutexLocker locker(&lock);
            finished = true;
        }
        notify(Ras::StateDisconnected, code, extended);
    }
    QString uri() const { return QStringLiteral("unix://") + settings.folder + QStringLiteral("/run/charon.vici"); }
    QStringList swanctl(const QStringList &arguments) const
    {
        return arguments + QStringList{QStringLiteral("--uri"), uri()};
    }
    bool charonAnswers() const { return runTool(QStringLiteral("swanctl"), swanctl({QStringLiteral("--stats")})) == 0; }

    void run();
    bool startCharon();
    bool loadConnection();
    void initiate();
    void keepServerRoute();
};

bool DialJob::startCharon()
{
    ServiceController service(settings.serviceName);
    if (!settings.registryDir.isEmpty())
        service.setRegistryDir(settings.registryDir);
    if (service.isRunning() && charonAnswers())
        return true;
    if (!service.isInstalled()) {
        qDebug().noquote()
            << QStringLiteral("IKEv2 is not available: the service %1 is not installed.").arg(settings.serviceName);
        return false;
    }
    const bool esp = kernelHasEsp();
    qDebug().noquote() << (esp ? QStringLiteral("IKEv2 data path: the kernel's IPsec (ESP).")
                               : QStringLiteral("IKEv2 data path: strongSwan's own IPsec on ipsec0; this kernel "
                                                "has no ESP."));
    const QByteArray conf = QStringLiteral("# Written by the client before each start of its charon.\n"
                                           "charon {\n"
                                           "    load_modular = yes\n"
                                           "    retransmit_timeout = %1\n"
                                           "    retransmit_base = 1.4\n"
                                           "    retransmit_tries = %2\n"
                                           "    filelog {\n"
                                           "        charon {\n"
                                           "            path = /run/charon.log\n"
                                           "            time_format = %b %e %T\n"
                                           "            default = 1\n"
                                           "        }\n"
                                           "    }\n"
                                           "    plugins {\n"
                                           "        include /etc/strongswan.d/charon/*.conf\n"
                                           "        kernel-libipsec {\n"
                                           "            load = %3\n"
                                           "        }\n"
                                           // It would write the machine's /etc/resolv.conf.
                                           "        resolve {\n"
                                           "            load = no\n"
                                           "        }\n"
                                           "        stroke {\n"
                                           "            load = no\n"
                                           "        }\n"
                                           "    }\n"
                                           "}\n")
                                .arg(settings.retransmitTimeoutMs / 1000.0)
                                .arg(settings.retransmitTries)
                                .arg(esp ? QStringLiteral("no") : QStringLiteral("yes"))
                                .toUtf8();
    const QString runDir = settings.folder + QStringLiteral("/run");
    if (!QDir().mkpath(runDir) || !writePrivateFile(settings.folder + QStringLiteral("/strongswan.conf"), conf)) {
        qDebug().noquote() << QStringLiteral("IKEv2 folder cannot be written: ") + settings.folder;
        return false;
    }
    QFile::remove(runDir + QStringLiteral("/charon.vici"));
    if (service.isRunning())
        service.stop();
    if (!service.start()) {
        qDebug().noquote() << QStringLiteral("IKEv2 service %1 cannot be started.").arg(settings.serviceName);
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (!cancelled && waited.elapsed() < settings.startWaitMs) {
        if (QFile::exists(runDir + QStringLiteral("/charon.vici")) && charonAnswers())
            return true;
        if (!service.isRunning())
            break;
        QThread::msleep(50);
    }
    qDebug().noquote() << QStringLiteral("charon did not answer on %1.").arg(uri());
    return false;
}

bool DialJob::loadConnection()
{
    // The CA certificates the server's certificate may chain to: the system's store and the client's own.
    const QString dir = settings.folder + QStringLiteral("/swanctl");
    const QString caDir = dir + QStringLiteral("/x509ca");
    QDir(caDir).removeRecursively();
    if (!QDir().mkpath(caDir)) {
        qDebug().noquote() << QStringLiteral("IKEv2 folder cannot be written: ") + dir;
        return false;
    }
    QStringList cas = settings.caFiles;
    if (!settings.systemCaDir.isEmpty()) {
        const QFileInfoList system = QDir(settings.systemCaDir).entryInfoList({QStringLiteral("*.pem")}, QDir::Files);
        for (const QFileInfo &file : system)
            cas << file.absoluteFilePath();
    }
    int index = 0;
    for (const QString &ca : qAsConst(cas)) {
        if (!ca.isEmpty() && QFileInfo(ca).isFile())
            QFile::link(QFileInfo(ca).absoluteFilePath(), QStringLiteral("%1/%2.pem").arg(caDir).arg(index++));
    }
    const QString conf = dir + QStringLiteral("/swanctl.conf");
    if (!writePrivateFile(conf, swanctlConf)) {
        qDebug().noquote() << QStringLiteral("IKEv2 connection cannot be written: ") + conf;
        return false;
    }
    const int result =
        runTool(QStringLiteral("swanctl"), swanctl({QStringLiteral("--load-all"), QStringLiteral("--clear"),
                                                    QStringLiteral("--noprompt"), QStringLiteral("--file"), conf}));
    // charon keeps the secret; the file does not.
    QFile::remove(conf);
    if (result != 0)
        qDebug().noquote() << QStringLiteral("charon refused the IKEv2 connection (swanctl exit %1).").arg(result);
    return result == 0;
}

void DialJob::initiate()
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(
        toolPath(QStringLiteral("swanctl")),
        swanctl({QStringLiteral("--initiate"), QStringLiteral("--child"), connection, QStringLiteral("--ike"),
                 connection, QStringLiteral("--timeout"), QString::number((settings.initiateLimitMs + 999) / 1000)}));
    // Progress lines of charon's log as RAS states, each reported once and in order.
    static const std::pair<const char *, quint32> progress[] = {{"initiating IKE_SA", StateConnectDevice},
                                                                {"received packet", StateDeviceConnected},
                                                                {"server requested EAP", StateAuthenticate},
                                                                {"succeeded, MSK established", StateAuthenticated},
                                                                {"installing new virtual IP", StateProjected}};
    size_t next = 0;
    QStringList lines;
    QByteArray pending;
    QElapsedTimer waited;
    waited.start();
    bool ended = !process.waitForStarted(5000);
    while (!ended && !cancelled && waited.elapsed() < settings.initiateLimitMs + 5000) {
        ended = process.waitForFinished(100);
        pending += process.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            lines << line;
            for (size_t i = next; i < std::size(progress); ++i) {
                if (line.contains(QLatin1String(progress[i].first))) {
                    next = i + 1;
                    notify(progress[i].second);
                }
            }
        }
    }
    if (!ended) {
        process.kill();
        process.waitForFinished(1000);
    }
    if (cancelled)
        return;
    if (ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) {
        keepServerRoute();
        {
            QMutexLocker locker(&lock);
            connected = true;
            finished = true;
        }
        notify(Ras::StateConnected);
        return;
    }
    quint32 extended = 0;
    const quint32 code = StrongSwan::classifyFailure(lines, &extended);
    qDebug().noquote() << QStringLiteral("IKEv2 initiation failed: ") + lines.value(lines.size() - 1);
    fail(code, extended);
}

// The tunnel carries the default route; the packets to the server itself keep the way they had, so that they
// still leave when the kill switch has taken the main table's default route away.
void DialJob::keepServerRoute()
{
    QString sas;
    runTool(QStringLiteral("swanctl"),
            swanctl({QStringLiteral("--list-sas"), QStringLiteral("--ike"), connection, QStringLiteral("--raw")}),
            &sas);
    const QString server = QRegularExpression(QStringLiteral("remote-host=([0-9.]+)")).match(sas).captured(1);
    QString way;
    if (server.isEmpty() ||
        runTool(QStringLiteral("ip"), {QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("get"), server},
                &way) != 0)
        return;
    const QRegularExpressionMatch gateway =
        QRegularExpression(QStringLiteral("\\bvia ([0-9.]+) dev (\\S+)")).match(way.section(QLatin1Char('\n'), 0, 0));
    if (!gateway.hasMatch())
        return;
    const QStringList route = {server, QStringLiteral("via"), gateway.captured(1), QStringLiteral("dev"),
                               gateway.captured(2)};
    if (runTool(QStringLiteral("ip"),
                QStringList{QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("replace")} + route) == 0) {
        QMutexLocker locker(&lock);
        hostRoute = route;
    } else {
        qDebug().noquote() << QStringLiteral("Route to the IKEv2 server cannot be kept: ") +
                                  route.join(QLatin1Char(' '));
    }
}

void DialJob::run()
{
    notify(StateOpenPort);
    if (!startCharon()) {
        fail(StrongSwan::ErrorServiceCannotStart);
        return;
    }
    if (cancelled)
        return;
    notify(StatePortOpened);
    if (!loadConnection()) {
        fail(StrongSwan::ErrorServiceCannotStart);
        return;
    }
    if (!cancelled)
        initiate();
}

class StrongSwanRas : public RasApi
{
public:
    explicit StrongSwanRas(const StrongSwanSettings &settings) : m_settings(settings) {}

    // strongSwan's own data path carries the tunnel on its TUN device; the kernel's has no device.
    QString tunnelDevice() const override
    {
        const QNetworkInterface device = QNetworkInterface::interfaceFromName(QStringLiteral("ipsec0"));
        return device.isValid() && device.flags().testFlag(QNetworkInterface::IsUp) ? device.name() : QString();
    }
    ~StrongSwanRas() override
    {
        if (m_job)
            hangUp(m_job->handle);
    }

    quint32 validateEntryName(const QString &entryName) override
    {
        return m_entries.count(entryName) ? Ras::ErrorAlreadyExists : Ras::Success;
    }

    quint32 setEntryProperties(const QString &entryName, const RasEntry &entry) override
    {
        if (entryName.isEmpty())
            return Ras::ErrorInvalidParameter;
        m_entries[entryName] = entry;
        return Ras::Success;
    }

    quint32 getEntryProperties(const QString &entryName, RasEntry *entry) override
    {
        const auto found = m_entries.find(entryName);
        if (found == m_entries.end())
            return Ras::ErrorCannotFindPhonebookEntry;
        *entry = found->second;
        return Ras::Success;
    }

    // Only L2TP uses the pre-shared key; it is kept with the entry all the same.
    quint32 setCredentials(const QString &entryName, const RasCredentials &, bool) override
    {
        return m_entries.count(entryName) ? Ras::Success : Ras::ErrorCannotFindPhonebookEntry;
    }

    quint32 dial(const RasDialParams &params, RasNotifier notifier, RasHandle *handle) override;
    quint32 getConnectStatus(RasHandle handle, RasConnStatus *status) override;
    quint32 hangUp(RasHandle handle) override;
    quint32 getErrorString(quint32 error, int bufferChars, QString *text) override;

    quint32 deleteEntry(const QString &entryName) override
    {
        return m_entries.erase(entryName) ? Ras::Success : Ras::ErrorCannotFindPhonebookEntry;
    }

    void dispatchMessages() override { QCoreApplication::processEvents(); }

private:
    QByteArray connectionText(const QString &name, const QString &server, const RasDialParams &params) const;
    // The connection is still established in charon.
    bool established(const DialJob &job) const;

    StrongSwanSettings m_settings;
    std::map<QString, RasEntry> m_entries;
    std::unique_ptr<DialJob> m_job;
    std::unique_ptr<QThread> m_thread;
    RasHandle m_lastHandle = 0;
};

QByteArray StrongSwanRas::connectionText(const QString &name, const QString &server, const RasDialParams &params) const
{
    // The server proves itself with a certificate for its name; the client with EAP-MSCHAPv2. A virtual
    // address is asked for and everything goes through the tunnel, as the entry's remote default gateway.
    return QStringLiteral("connections {\n"
                          "    %1 {\n"
                          "        version = 2\n"
                          "        remote_addrs = %2\n"
                          "        vips = 0.0.0.0\n"
                          "        dpd_delay = %3s\n"
                          "        local {\n"
                          "            auth = eap-mschapv2\n"
                          "            eap_id = \"%4\"\n"
                          "        }\n"
                          "        remote {\n"
                          "            auth = pubkey\n"
                          "            id = %2\n"
                          "        }\n"
                          "        children {\n"
                          "            %1 {\n"
                          "                remote_ts = 0.0.0.0/0\n"
                          "            }\n"
                          "        }\n"
                          "    }\n"
                          "}\n"
                          "secrets {\n"
                          "    eap-%1 {\n"
                          "        id = \"%4\"\n"
                          "        secret = 0x%5\n"
                          "    }\n"
                          "}\n")
        .arg(name, server)
        .arg(m_settings.dpdDelaySeconds)
        .arg(params.userName, QString::fromLatin1(params.password.toUtf8().toHex()))
        .toUtf8();
}

quint32 StrongSwanRas::dial(const RasDialParams &params, RasNotifier notifier, RasHandle *handle)
{
    *handle = 0;
    const auto found = m_entries.find(params.entryName);
    if (found == m_entries.end())
        return Ras::ErrorCannotFindPhonebookEntry;
    if (found->second.vpnStrategy != StrategyIkev2Only) {
        qDebug() << NotAvailable;
        return Ras::ErrorCannotOpenPhonebook;
    }
    const QString server = params.phoneNumber.isEmpty() ? found->second.localPhoneNumber : params.phoneNumber;
    QString name = params.entryName.toLower();
    name.remove(QRegularExpression(QStringLiteral("[^a-z0-9]")));
    if (!isHostText(server) || !isIdentityText(params.userName) || params.password.isEmpty() || name.isEmpty())
        return Ras::ErrorInvalidParameter;
    // A dial that was not hung up ends here.
    if (m_job)
        hangUp(m_job->handle);

    auto job = std::make_unique<DialJob>();
    job->settings = m_settings;
    job->connection = name;
    job->swanctlConf = connectionText(name, server, params);
    job->handle = ++m_lastHandle;
    job->notifier = notifier;
    DialJob *running = job.get();
    m_thread.reset(QThread::create([running] { running->run(); }));
    m_job = std::move(job);
    m_thread->start();
    *handle = m_job->handle;
    return Ras::Success;
}

bool StrongSwanRas::established(const DialJob &job) const
{
    QString sas;
    if (runTool(QStringLiteral("swanctl"),
                job.swanctl(
                    {QStringLiteral("--list-sas"), QStringLiteral("--ike"), job.connection, QStringLiteral("--raw")}),
                &sas, 5000) != 0)
        return false;
    return sas.contains(QLatin1String("state=ESTABLISHED")) && sas.contains(QLatin1String("state=INSTALLED"));
}

quint32 StrongSwanRas::getConnectStatus(RasHandle handle, RasConnStatus *status)
{
    *status = RasConnStatus();
    if (!m_job || handle != m_job->handle)
        return Ras::ErrorInvalidHandle;
    bool connected;
    {
        QMutexLocker locker(&m_job->lock);
        status->state = m_job->state;
        status->error = m_job->error;
        connected = m_job->connected;
    }
    // Gone from charon, or charon gone: the tunnel dropped. The handle stays until it is hung up.
    if (connected && !established(*m_job)) {
        QMutexLocker locker(&m_job->lock);
        m_job->connected = false;
        m_job->state = status->state = Ras::StateDisconnected;
        m_job->error = status->error = StrongSwan::ErrorRemoteDisconnection;
    }
    return Ras::Success;
}

quint32 StrongSwanRas::hangUp(RasHandle handle)
{
    if (!m_job || handle != m_job->handle)
        return Ras::ErrorInvalidHandle;
    m_job->cancelled = true;
    ServiceController service(m_settings.serviceName);
    if (!m_settings.registryDir.isEmpty())
        service.setRegistryDir(m_settings.registryDir);
    if (service.isRunning()) {
        runTool(QStringLiteral("swanctl"),
                m_job->swanctl({QStringLiteral("--terminate"), QStringLiteral("--ike"), m_job->connection,
                                QStringLiteral("--timeout"), QStringLiteral("3")}),
                nullptr, 5000);
        // charon ends with the tunnel; a running one would keep its routes and device.
        if (!service.stop())
            qDebug().noquote() << QStringLiteral("IKEv2 service %1 did not stop.").arg(m_settings.serviceName);
    }
    m_thread->wait();
    QStringList route;
    {
        QMutexLocker locker(&m_job->lock);
        route = m_job->hostRoute;
    }
    if (!route.isEmpty())
        runTool(QStringLiteral("ip"),
                QStringList{QStringLiteral("-4"), QStringLiteral("route"), QStringLiteral("del")} + route);
    m_thread.reset();
    m_job.reset();
    return Ras::Success;
}

quint32 StrongSwanRas::getErrorString(quint32 error, int bufferChars, QString *text)
{
    static const std::map<quint32, const char *> texts = {
        {Ras::ErrorInvalidHandle, "The handle is invalid."},
        {Ras::ErrorInvalidParameter, "The parameter is incorrect."},
        {Ras::ErrorCannotOpenPhonebook, "The system could not open the phone book file."},
        {Ras::ErrorCannotFindPhonebookEntry, "The system could not find the phone book entry for this connection."},
        {StrongSwan::ErrorRemoteDisconnection, "The connection was closed by the remote computer."},
        {ErrorNoConnection, "The connection was closed."},
        {StrongSwan::ErrorAuthenticationFailure,
         "Access was denied because the username and/or password was invalid on the domain."},
        {StrongSwan::ErrorServiceCannotStart, "The IKEv2 service (strongSwan's charon) could not start."},
        {StrongSwan::ErrorNoAnswer, "The network connection between your computer and the VPN server could not be "
                                    "established because the remote server is not responding."},
        {StrongSwan::ErrorCertificateRefused, "IKE authentication credentials are unacceptable."},
        {StrongSwan::ErrorNegotiationFailed, "The IKE negotiation with the VPN server failed."}};
    const auto found = texts.find(error);
    if (found == texts.end())
        return Ras::ErrorInvalidParameter;
    const QString message = QString::fromLatin1(found->second);
    if (message.size() >= bufferChars)
        return Ras::ErrorInvalidParameter;
    *text = message;
    return Ras::Success;
}

} // namespace

namespace StrongSwan {

quint32 classifyFailure(const QStringList &lines, quint32 *extendedError)
{
    *extendedError = 0;
    const auto any = [&lines](std::initializer_list<const char *> texts) {
        for (const QString &line : lines) {
            for (const char *text : texts) {
                if (line.contains(QLatin1String(text)))
                    return true;
            }
        }
        return false;
    };
    // The server's certificate first: the refusal is followed by our own AUTHENTICATION_FAILED notify.
    if (any({"public key found for", "constraint check failed", "no issuer certificate found",
             "certificate was revoked", "certificate invalid"}))
        return ErrorCertificateRefused;
    if (any({"EAP-MS-CHAPv2 failed", "received EAP_FAILURE", "received AUTHENTICATION_FAILED"}))
        return ErrorAuthenticationFailure;
    if (any({"giving up after", "peer not responding"}) || lines.isEmpty()) {
        *extendedError = ExtendedServerNotResponding;
        return ErrorNoAnswer;
    }
    return ErrorNegotiationFailed;
}

} // namespace StrongSwan

StrongSwanSettings DefaultStrongSwanSettings()
{
    StrongSwanSettings settings;
    settings.folder = AppContext::instance()->dataPaths()->ikev2Folder();
    if (TovraConstants::TrustedCaFile[0] != '\0')
        settings.caFiles << QString::fromUtf8(TovraConstants::TrustedCaFile);
    return settings;
}

std::unique_ptr<RasApi> CreateStrongSwanRasApi(const StrongSwanSettings &settings)
{
    return std::make_unique<StrongSwanRas>(settings);
}

std::unique_ptr<RasApi> CreateRasApi()
{
    return CreateStrongSwanRasApi(DefaultStrongSwanSettings());
}
