#pragma once

#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QSslError>

#include "api/tovrauserdata.h"
#include "servers/tovraserver.h"

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;

// The client's only talker to the provider's REST API. Every reply is bound to the handler of the
// request that started it, so requests of different endpoints may run side by side.
class TovraApiManager : public QObject
{
    Q_OBJECT

public:
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
    // How long the assigned-IP request may take before it is aborted.
    void setAssignedIpTimeout(int msec) { m_assignedIpTimeout = msec; }
    int assignedIpTimeout() const { return m_assignedIpTimeout; }

    const TovraUserData &userData() const { return m_userData; }
    const QList<TovraServer> &FullList() const { return fullList; }
    const QList<TovraServer> &SmartList() const { return smartList; }
    const QList<TovraServer> &FullB2bList() const { return fullB2bList; }
    const QList<TovraServer> &SmartB2bList() const { return smartB2bList; }

    // Account endpoints.
    void AuthEmail(const QString &email, const QString &password);
    void AuthFacebook(const QString &secureToken);
    void AuthGoogle(const QString &code, const QString &redirectUri);
    void ResetPassword(const QString &email);
    void GetUserPlan();
    void GetUserBandwidth();
    void GetUserData();
    void GetLocalIpData();
    void GetAssignedIpData();
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
    QString MapImageUrl(double userLongitude, double userLatitude, double serverLongitude, double serverLatitude,
                        bool drawPath) const;
    // The two points as an encoded polyline.
    static QString EncodePolyline(double fromLatitude, double fromLongitude, double toLatitude, double toLongitude);
    // Builds the four server lists from the server-list reply and hands them to the server manager.
    void BuildServerLists(const QJsonArray &servers);
    // Ends all network traffic for good; called when the application object goes away.
    void ReleaseNetwork();

public slots:
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

    QNetworkRequest MakeRequest(const QString &url) const;
    QNetworkRequest MakeAuthorizedRequest(const QString &url) const;
    QNetworkReply *Get(const QNetworkRequest &request, ReplyHandler handler);
    QNetworkReply *Post(const QString &url, const QByteArray &body, bool authorized, ReplyHandler handler);
    QNetworkReply *PostJson(const QString &url, const QJsonObject &body, ReplyHandler handler);

    void ReportNetworkError(QNetworkReply *reply);
    void ReportEmptyResult();
    void HandleOpenVpnConfig(QNetworkReply *reply, const QString &path, bool tcp);
    void FillIpData(bool assigned, const QJsonObject &object);

    bool HasSmartEntry(const QList<TovraServer> &list, const QString &countryCode, int kind) const;
    void SetNearest(QList<TovraServer> &list, const QString &countryCode, const char *message);

    QNetworkAccessManager *m_manager;
    TovraUserData m_userData;
    QList<TovraServer> fullList;
    QList<TovraServer> smartList;
    QList<TovraServer> fullB2bList;
    QList<TovraServer> smartB2bList;
    int m_assignedIpTimeout = 8000;

    QString m_apiBaseUrl;
    QString m_portalBaseUrl;
    QString m_mapApiBaseUrl;
};
