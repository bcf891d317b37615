// The provider's replies through the shared reply reader and each endpoint's handler. The first byte picks
// the endpoint, the second the outcome (status code, network error), the rest is the body. The reply is a
// stand-in that carries the body without any network.
#include "fuzz/fuzzsupport.h"

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QNetworkReply>

#include <cstring>

namespace {

class BodyReply : public QNetworkReply
{
public:
    BodyReply(const QByteArray &body, int status, bool failed) : m_body(body)
    {
        setAttribute(QNetworkRequest::HttpStatusCodeAttribute, status);
        if (failed)
            setError(QNetworkReply::ContentNotFoundError,
                     QStringLiteral("Error transferring - server replied: Not Found"));
        open(QIODevice::ReadOnly);
        setFinished(true);
    }
    void abort() override {}
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_body.size() - m_read + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qMin<qint64>(maxSize, m_body.size() - m_read);
        memcpy(data, m_body.constData() + m_read, static_cast<size_t>(count));
        m_read += count;
        return count;
    }

private:
    QByteArray m_body;
    qint64 m_read = 0;
};

// Takes the pages the account-link handler would open in the browser.
class UrlSink : public QObject
{
    Q_OBJECT
public slots:
    void open(const QUrl &) {}
};

const char *const Handlers[] = {
    "OnAuthEmailFinished",        "OnAuthFacebookFinished",
    "OnAuthGoogleFinished",       "OnAuthPasswordResetFinished",
    "OnUserPlanReceived",         "OnUserBandwidthReceived",
    "OnUserDataReceived",         "OnLocalIpDataFinished",
    "OnAssignedIpReplyFinished",  "OnUserBandwidthUpdateFinished",
    "OnUserAutoAuthUrlReceived",  "OnServerListFinished",
    "OnServerBestFinished",       "OnOpenVpnTcpConfigFinished",
    "OnOpenVpnUdpConfigFinished", "OnUpdateDataFinished",
    "OnSupportTicketFinished",    "OnMapImageRequestFinished",
};
const int Statuses[] = {200, 201, 204, 400, 401, 403, 404, 500};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QGuiApplication>();
    static UrlSink sink;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &sink, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &sink, "open");
    AppContext *context = AppContext::instance();
    context->dataPaths()->setDir(Fuzz::scratchDir());
    // Follow-up requests a handler starts go nowhere.
    context->apiManager()->releaseNetwork();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const char *handler = Handlers[data[0] % (sizeof Handlers / sizeof *Handlers)];
    const int status = Statuses[data[1] % 8];
    auto *reply = new BodyReply(Fuzz::bytes(data + 2, size - 2), status, (data[1] & 8) || status >= 400);
    if (!QMetaObject::invokeMethod(AppContext::instance()->apiManager(), handler, Qt::DirectConnection,
                                   Q_ARG(QNetworkReply *, reply)))
        std::abort();
    // The reader released the reply; nothing else may hold on to it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

#include "fuzz_api_replies.moc"
