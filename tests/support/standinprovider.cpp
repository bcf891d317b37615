#include "support/standinprovider.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTimer>

#include "api/tlspolicy.h"
#include "api/tovraapimanager.h"
#include "app/appcontext.h"

StandInProvider::StandInProvider(QObject *parent) : QObject(parent) {}

StandInProvider::~StandInProvider()
{
    stop();
}

bool StandInProvider::start(const QStringList &extraArgs, int timeoutMs)
{
    stop();
    m_output.clear();
    m_apiPort = m_portalPort = 0;
    m_state = std::make_unique<QTemporaryDir>();
    if (!m_state->isValid()) {
        m_error = QStringLiteral("cannot make a state folder");
        return false;
    }
    m_process.start(QStringLiteral(TOVRA_PROVIDER_EXE),
                    QStringList{"--api-port", "0", "--portal-port", "0", "--state", m_state->path()} + extraArgs);
    static const QRegularExpression listening(QStringLiteral("^LISTENING api=(\\d+) portal=(\\d+)$"),
                                              QRegularExpression::MultilineOption);
    QElapsedTimer clock;
    clock.start();
    while (m_process.waitForStarted(timeoutMs) && clock.elapsed() < timeoutMs) {
        m_process.waitForReadyRead(100);
        m_output += m_process.readAllStandardOutput() + m_process.readAllStandardError();
        const QRegularExpressionMatch match = listening.match(QString::fromUtf8(m_output));
        if (match.hasMatch()) {
            m_apiPort = quint16(match.captured(1).toUInt());
            m_portalPort = quint16(match.captured(2).toUInt());
            return true;
        }
    }
    m_error = QStringLiteral("no LISTENING line from %1 (%2); output: %3")
                  .arg(QStringLiteral(TOVRA_PROVIDER_EXE), m_process.errorString(), QString::fromUtf8(m_output));
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}

bool StandInProvider::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(15000)) {
            m_error = QStringLiteral("tovra-provider did not stop on SIGTERM");
            m_process.kill();
            m_process.waitForFinished(5000);
            return false;
        }
        m_output += m_process.readAllStandardOutput() + m_process.readAllStandardError();
    }
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

bool StandInProvider::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QString StandInProvider::apiUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_apiPort);
}

QString StandInProvider::portalUrl() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_portalPort);
}

QString StandInProvider::statePath() const
{
    return m_state ? m_state->path() : QString();
}

StandInProvider::Response StandInProvider::call(const QByteArray &method, const QString &url, const QByteArray &body,
                                                const QList<QPair<QByteArray, QByteArray>> &headers, int timeoutMs)
{
    QNetworkAccessManager manager;
    QNetworkRequest request{QUrl(url)};
    for (const auto &header : headers)
        request.setRawHeader(header.first, header.second);
    QNetworkReply *reply = manager.sendCustomRequest(request, method, body);
    // The certificate is self-signed.
    connect(reply, &QNetworkReply::sslErrors, reply, [reply] { reply->ignoreSslErrors(); });
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, reply, &QNetworkReply::abort);
    if (reply->isRunning())
        loop.exec();
    Response response;
    response.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->isOpen())
        response.body = reply->readAll();
    response.headers = reply->rawHeaderPairs();
    delete reply;
    return response;
}

bool StandInProvider::script(const QString &path, int status, const QByteArray &body, int delayMs,
                             const QString &method)
{
    return script(QJsonObject{{"path", path},
                              {"status", status},
                              {"body", QString::fromUtf8(body)},
                              {"delayMs", delayMs},
                              {"method", method}});
}

bool StandInProvider::script(const QJsonObject &scriptEntry)
{
    const Response response = call("POST", apiUrl() + QStringLiteral("/_test/script"),
                                   QJsonDocument(scriptEntry).toJson(), {{"Content-Type", "application/json"}});
    if (response.status != 200)
        m_error = QStringLiteral("script refused (%1): %2").arg(response.status).arg(QString::fromUtf8(response.body));
    return response.status == 200;
}

bool StandInProvider::reset()
{
    const Response response = call("POST", apiUrl() + QStringLiteral("/_test/reset"));
    if (response.status != 200)
        m_error = QStringLiteral("reset refused (%1)").arg(response.status);
    return response.status == 200;
}

QJsonDocument StandInProvider::fetchJson(const QString &path)
{
    const Response response = call("GET", apiUrl() + path);
    if (response.status != 200)
        m_error = QStringLiteral("GET %1 answered %2").arg(path).arg(response.status);
    return QJsonDocument::fromJson(response.body);
}

QJsonArray StandInProvider::requests(const QString &path)
{
    const QString filter = path.isEmpty() ? QString() : "?path=" + QString::fromLatin1(QUrl::toPercentEncoding(path));
    return fetchJson(QStringLiteral("/_test/requests") + filter).array();
}

QJsonArray StandInProvider::tickets()
{
    return fetchJson(QStringLiteral("/_test/tickets")).array();
}

bool ProviderFixture::start()
{
    AppContext *context = AppContext::instance();
    context->dataPaths()->setDir(m_dir.path());
    if (!m_dir.isValid() || !EnsureParentDir(context->dataPaths()->tokenFile()) || !provider.start())
        return false;
    // The client checks certificates: it trusts this stand-in's own CA, as a development build trusts the one
    // scripts/run starts.
    if (!TlsPolicy::trustCaFile(provider.statePath() + QStringLiteral("/ca.pem")))
        return false;
    TovraApiManager *api = context->apiManager();
    api->setApiBaseUrl(provider.apiUrl());
    api->setPortalBaseUrl(provider.portalUrl());
    api->setMapApiBaseUrl(provider.portalUrl());
    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    // Installed after the test framework's own handler, so test output still shows the lines.
    m_log = std::make_unique<LogCapture>();
    return true;
}

void ProviderFixture::stop()
{
    if (!m_log)
        return;
    m_log.reset();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    provider.stop();
}

bool ProviderFixture::reset()
{
    AppContext::instance()->apiManager()->token = QStringLiteral("demo-token-active");
    opened.clear();
    LogCapture::clear();
    return provider.reset();
}

QJsonObject ProviderFixture::lastRequest(const QString &path)
{
    const QJsonArray all = provider.requests(path);
    return all.isEmpty() ? QJsonObject() : all.last().toObject();
}
