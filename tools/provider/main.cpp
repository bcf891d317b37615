// tovra-provider: the stand-in for the provider's REST API and web portal.
#include "certificate.h"
#include "provider.h"
#include "tlsserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QStandardPaths>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

bool parsePort(const QString &text, int *port)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > 65535)
        return false;
    *port = value;
    return true;
}

QString defaultDataFile()
{
    const QDir exeDir(QCoreApplication::applicationDirPath());
    const QStringList candidates = {exeDir.filePath(QStringLiteral("tovra-provider-data/demo.json")),
                                    exeDir.filePath(QStringLiteral("../share/tovra-provider/demo.json"))};
    for (const QString &candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return candidates.first();
}

int fail(const QString &message)
{
    std::fprintf(stderr, "tovra-provider: %s\n", qPrintable(message));
    return 1;
}

std::unique_ptr<provider::TlsServer> makeServer(provider::Provider &state, provider::Origin origin, const QString &cert,
                                                const QString &key)
{
    auto server =
        std::make_unique<provider::TlsServer>(QFile::encodeName(cert).constData(), QFile::encodeName(key).constData());
    if (!server->is_valid())
        return nullptr;
    server->set_payload_max_length(64 * 1024 * 1024);
    server->new_task_queue = [] { return new httplib::ThreadPool(32); };
    // Without SO_REUSEPORT: a second program on a port in use must fail, not share it.
    server->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    const auto handler = [&state, origin](const httplib::Request &req, httplib::Response &res) {
        state.handle(origin, req, res);
    };
    const std::string any = ".*";
    server->Get(any, handler);
    server->Post(any, handler);
    server->Put(any, handler);
    server->Delete(any, handler);
    server->Patch(any, handler);
    server->Options(any, handler);
    // Requests httplib refuses on its own (bad request line, unknown method) still get a JSON body.
    server->set_error_handler([](const httplib::Request &, httplib::Response &res) {
        if (res.body.empty())
            res.set_content("{\"error\":\"HTTP " + std::to_string(res.status) + "\"}", "application/json");
    });
    server->set_exception_handler([](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
        res.status = 500;
        res.set_content("{\"error\":\"internal error\"}", "application/json");
    });
    return server;
}

struct Options
{
    int apiPort = 0;
    int portalPort = 0;
    QString dataFile;
    QString stateDir;
    QString address = QStringLiteral("127.0.0.1");
    bool reportPeerAddress = false;
    QString openVpnCa;
};

// Reads the command line; false (with a message in error) when it makes no sense.
bool parseOptions(const QCoreApplication &app, Options *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in for the TOVRA VPN provider's REST API and web portal (HTTPS, on 127.0.0.1 by default)."));
    parser.addHelpOption();
    const QCommandLineOption apiPortOption(QStringLiteral("api-port"),
                                           QStringLiteral("Port of the API origin (0: any free port)."),
                                           QStringLiteral("port"), QString::number(TOVRA_PROVIDER_DEFAULT_API_PORT));
    const QCommandLineOption portalPortOption(
        QStringLiteral("portal-port"), QStringLiteral("Port of the portal origin (0: any free port)."),
        QStringLiteral("port"), QString::number(TOVRA_PROVIDER_DEFAULT_PORTAL_PORT));
    const QCommandLineOption dataOption(QStringLiteral("data"), QStringLiteral("Demo data file (JSON)."),
                                        QStringLiteral("file"), defaultDataFile());
    const QCommandLineOption stateOption(
        QStringLiteral("state"), QStringLiteral("Folder for the certificate and the stored tickets."),
        QStringLiteral("dir"),
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/tovra-provider"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
                                          QStringLiteral("IPv4 address both origins listen on (default 127.0.0.1)."),
                                          QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption peerOption(QStringLiteral("report-peer-address"),
                                        QStringLiteral("The IP answer is the caller's own address."));
    const QCommandLineOption caOption(QStringLiteral("openvpn-ca"),
                                      QStringLiteral("CA certificate (PEM) for the OpenVPN configurations."),
                                      QStringLiteral("file"));
    parser.addOptions({apiPortOption, portalPortOption, dataOption, stateOption, listenOption, peerOption, caOption});
    parser.process(app);

    if (!parsePort(parser.value(apiPortOption), &options->apiPort) ||
        !parsePort(parser.value(portalPortOption), &options->portalPort)) {
        *error = QStringLiteral("ports are numbers from 0 to 65535");
        return false;
    }
    if (options->apiPort != 0 && options->apiPort == options->portalPort) {
        *error = QStringLiteral("the API and the portal need different ports");
        return false;
    }
    const QHostAddress address(parser.value(listenOption));
    if (address.protocol() != QAbstractSocket::IPv4Protocol) {
        *error = QStringLiteral("--listen takes an IPv4 address");
        return false;
    }
    options->address = address.toString();
    options->reportPeerAddress = parser.isSet(peerOption);
    if (parser.isSet(caOption)) {
        QFile ca(parser.value(caOption));
        if (!ca.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read %1: %2").arg(ca.fileName(), ca.errorString());
            return false;
        }
        options->openVpnCa = QString::fromLatin1(ca.readAll());
        if (!options->openVpnCa.startsWith(QLatin1String("-----BEGIN CERTIFICATE-----"))) {
            *error = QStringLiteral("%1 is not a PEM certificate").arg(ca.fileName());
            return false;
        }
    }
    options->dataFile = parser.value(dataOption);
    options->stateDir = QDir(parser.value(stateOption)).absolutePath();
    return true;
}

// Binds to address:port (0: any free port); returns the port, or -1.
int bindTo(provider::TlsServer &server, const QString &address, int port)
{
    const std::string host = address.toStdString();
    if (port == 0)
        return server.bind_to_any_port(host);
    return server.bind_to_port(host, port) ? port : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    // Block the stop signals before any thread starts; the main thread waits for them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tovra-provider"));

    Options options;
    QString certPath;
    QString keyPath;
    QString error;
    provider::Provider state;
    if (!parseOptions(app, &options, &error) ||
        !provider::ensureCertificate(options.stateDir, options.address, &certPath, &keyPath, &error) ||
        !state.load(options.dataFile, options.stateDir, &error))
        return fail(error);

    auto api = makeServer(state, provider::Origin::Api, certPath, keyPath);
    auto portal = makeServer(state, provider::Origin::Portal, certPath, keyPath);
    if (!api || !portal)
        return fail(QStringLiteral("cannot load the certificate from %1").arg(options.stateDir));
    const int apiPort = bindTo(*api, options.address, options.apiPort);
    if (apiPort < 0)
        return fail(QStringLiteral("cannot listen on %1:%2").arg(options.address).arg(options.apiPort));
    const int portalPort = bindTo(*portal, options.address, options.portalPort);
    if (portalPort < 0)
        return fail(QStringLiteral("cannot listen on %1:%2").arg(options.address).arg(options.portalPort));
    state.setOrigins(QStringLiteral("https://%1:%2").arg(options.address).arg(apiPort),
                     QStringLiteral("https://%1:%2").arg(options.address).arg(portalPort));
    state.setReportPeerAddress(options.reportPeerAddress);
    state.setOpenVpnCa(options.openVpnCa);

    std::thread apiThread([&api] { api->listen_after_bind(); });
    std::thread portalThread([&portal] { portal->listen_after_bind(); });
    // Announce only once both accept loops run, so an early stop() reaches them.
    while (!api->is_running() || !portal->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::printf("CERTIFICATE %s\nLISTENING api=%d portal=%d\n", qPrintable(certPath), apiPort, portalPort);
    std::fflush(stdout);

    int received = 0;
    sigwait(&stopSignals, &received);
    state.stop();
    api->stop();
    portal->stop();
    apiThread.join();
    portalThread.join();
    std::printf("STOPPED\n");
    std::fflush(stdout);
    return 0;
}
