#pragma once

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslError>

#include "api/tovrauserdata.h"
#include "servers/serverlists.h"
#include "servers/tovraserver.h"

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
struct ApiReply;

// The client's only talker to the provider's REST API. Every reply is bound to the handler of the
// request that started it, so requests of different endpoints may run side by side.
class TovraApiManager : public QObject
{
    Q_OBJECT

public:
    // Timed steps; the defaults are the production values.
    struct Timings
    {
        // How long the assigned-IP request may take before it is aborted.
        int assignedIpTimeoutMs = 8000;
    };

    TovraApiManager();
    ~TovraApiManager() override;

    // The bearer token sent with every authorised request.
    QString token;

    // Origins the requests go to; the build constants unless changed.
    void setApiBaseUrl(const QString &url) { m_apiBaseUrl = url; }
    QString apiBaseUrl() const { return m_apiBaseUrl; }
    void setPortalBaseUrl(const QString &url) { m_portalBaseUrl = url; }
    QString portalBaseUrl() const { return m_portalBaseUrl; }
    void setMapApiBaseUrl(const QString &url) { m_mapApiBaseUrl = url; }
    QString mapApiBaseUrl() const { return m_mapApiBaseUrl; }
    void setTimings(const Timings &timings) { m_timings = timings; }

    const TovraUserData &userData() const { return m_userData; }
    // Whether the last reply of the user-data chain (plan, bandwidth, details) came without any HTTP answer.
    bool userDataUnanswered() const { return m_userDataUnanswered; }
    // The lists of the last server-list reply.
    const ServerLists &serverLists() const { return m_serverLists; }

    // Account endpoints.
    void AuthEmail(const QString &email, const QString &password);
    void AuthFacebook(const QString &secureToken);
    void AuthGoogle(const QString &code, const QString &redirectUri);
    void ResetPassword(const QString &email);
    void GetUserPlan();
    void GetUserBandwidth();
    void GetUserData();
    void GetLocalIpData();
    // Replaces any assigned-IP request still in flight, whose answer is then never given.
    void GetAssignedIpData();
    // Drops the assigned-IP request in flight without an answer.
    void CancelAssignedIpCheck();
    void UpdateUserBandwidth();
    void GetUserAutoAuthUrl(const QString &suffix);
    void OpenUpgradeUrl();

    // Server, configuration and service endpoints.
    void GetServerList();
    void GetBestServer(const QString &countryCode, bool isP2p, bool isStreaming);
    void GetOpenVpnTcpConfig();
    void GetOpenVpnUdpConfig();
    // The configuration the connection workflow uses.
    void GetOpenVpnConfig() { GetOpenVpnTcpConfig(); }
    void GetUpdateData();
    void SendSupportTicket(bool signedIn);
    void GetMapImage(double userLongitude, double userLatitude, double serverLongitude, double serverLatitude,
                     bool drawPath);

    // The static map address GetMapImage requests.
    QString mapImageUrl(double userLongitude, double userLatitude, double serverLongitude, double serverLatitude,
                        bool drawPath) const;
    // The two points as an encoded polyline.
    static QString encodePolyline(double fromLatitude, double fromLongitude, double toLatitude, double toLongitude);
    // Ends all network traffic for good; called when the application object goes away.
    void releaseNetwork();

public slots:
    // Look-ups in the smart lists of the last server-list reply.
    bool IsRegularCountryServerAdded(const QString &countryCode) const;
    bool IsRegularCountryB2bServerAdded(const QString &countryCode) const;
    bool IsP2pCountryServerAdded(const QString &countryCode) const;
    bool IsP2pCountryB2bServerAdded(const QString &countryCode) const;
    bool IsStreamingCountryServerAdded(const QString &countryCode) const;
    bool IsStreamingCountryB2bServerAdded(const QString &countryCode) const;
    void SetNearestCountryForSmartList(const QString &countryCode);
    void SetNearestCountryForB2bSmartList(const QString &countryCode);

    void ProcessSslErrors(QNetworkReply *pReply, const QList<QSslError> &errors);

signals:
    void PasswordResetRequestSent(bool result);
    void BestServerReceived(bool result, TovraServer bestServer);
    void OpenVpnTcpConfigUpdated(QString configData);
    void OpenVpnUdpConfigUpdated(QString configData);
    void UpdateDataReceived(QString version, QString downloadUrl);
    void SupportTicketFinished(bool result, QString ticketUrl);
    void ApiErrorOccurred(QString errorMessage);
    void MapImageReceived(bool result, QImage mapImage);

private slots:
    void OnAuthEmailFinished(QNetworkReply *reply);
    void OnAuthFacebookFinished(QNetworkReply *reply);
    void OnAuthGoogleFinished(QNetworkReply *reply);
    void OnAuthPasswordResetFinished(QNetworkReply *reply);
    void OnUserPlanReceived(QNetworkReply *reply);
    void OnUserBandwidthReceived(QNetworkReply *reply);
    void OnUserDataReceived(QNetworkReply *reply);
    void OnLocalIpDataFinished(QNetworkReply *reply);
    void OnAssignedIpReplyFinished(QNetworkReply *reply);
    void OnUserBandwidthUpdateFinished(QNetworkReply *reply);
    void OnUserAutoAuthUrlReceived(QNetworkReply *reply);
    void OnServerListFinished(QNetworkReply *reply);
    void OnServerBestFinished(QNetworkReply *reply);
    void OnOpenVpnTcpConfigFinished(QNetworkReply *reply);
    void OnOpenVpnUdpConfigFinished(QNetworkReply *reply);
    void OnUpdateDataFinished(QNetworkReply *reply);
    void OnSupportTicketFinished(QNetworkReply *reply);
    void OnMapImageRequestFinished(QNetworkReply *reply);

private:
    using ReplyHandler = void (TovraApiManager::*)(QNetworkReply *);

    QNetworkRequest makeRequest(const QString &url) const;
    QNetworkRequest makeAuthorizedRequest(const QString &url) const;
    QNetworkReply *get(const QNetworkRequest &request, ReplyHandler handler);
    QNetworkReply *post(const QString &url, const QByteArray &body, bool authorized, ReplyHandler handler);
    // secret names a body member logged as stars.
    QNetworkReply *postJson(const QString &url, const QJsonObject &body, ReplyHandler handler,
                            const QString &secret = QString());
    QNetworkReply *getAuthorized(const char *path, ReplyHandler handler, const QString &query = QString());

    // The standard answer to a failed reply: a network error or an empty result through ApiErrorOccurred.
    // Returns whether the reply carries an object.
    bool reportFailure(const ApiReply &reply);
    void reportNetworkError(const ApiReply &reply);
    void reportEmptyResult();
    void handleSignIn(QNetworkReply *reply, const char *path, bool email);
    void handleOpenVpnConfig(QNetworkReply *reply, const char *path, bool tcp);
    void fillIpData(bool assigned, const QJsonObject &object);

    // The access manager, made by the first request; none once released at the end of the process.
    QNetworkAccessManager *network();

    QNetworkAccessManager *m_manager = nullptr;
    bool m_networkReleased = false;
    QPointer<QNetworkReply> m_assignedIpReply;
    TovraUserData m_userData;
    ServerLists m_serverLists;
    Timings m_timings;
    bool m_userDataUnanswered = false;

    QString m_apiBaseUrl;
    QString m_portalBaseUrl;
    QString m_mapApiBaseUrl;
};
