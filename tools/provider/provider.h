// The stand-in provider: REST API and web portal answers, test scripting,
// request recording and ticket storage. Handlers run on httplib's worker
// threads; every member that changes after load() is guarded by m_mutex.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include "coastlines/coastlinefile.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace httplib {
struct Request;
struct Response;
} // namespace httplib

namespace provider {

enum class Origin { Api, Portal };

struct Reply
{
    int status = 200;
    QByteArray body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers;
};

// One request as the handlers see it.
struct Call
{
    Origin origin = Origin::Api;
    QString method;
    QString path;
    QString rawQuery;
    std::multimap<std::string, std::string> params;
    const httplib::Request *request = nullptr;
    QJsonObject json; // the parsed body, for routes that take a JSON object

    QString param(const char *name) const;
    bool hasParam(const char *name) const;
};

class Provider
{
public:
    bool load(const QString &dataFile, const QString &stateDir, QString *error);
    void setOrigins(const QString &apiBase, const QString &portalBase);
    // The IP answer reports the caller's own address instead of the account's.
    void setReportPeerAddress(bool report) { m_reportPeerAddress = report; }
    // PEM text that replaces the <ca> block of every OpenVPN configuration.
    void setOpenVpnCa(const QString &pem) { m_openVpnCa = pem; }

    // Entry point of both servers.
    void handle(Origin origin, const httplib::Request &req, httplib::Response &res);

    // Wakes scripted delays so the servers can stop.
    void stop();

private:
    struct Account
    {
        QJsonObject json;
        QString email;
        QString password;
        QString token;
    };
    struct Script
    {
        QString method;
        QString path;
        QString origin;
        int status = 0;
        QByteArray body;
        std::string contentType;
        QJsonObject headers;
        int delayMs = 0;
        int times = 0; // 0: until reset
        bool hangup = false;
    };

    using Handler = Reply (Provider::*)(const Call &call, const Account *account);
    // One endpoint: a path (or, with prefix, every path below it), its method and its handler. bearer: the
    // request needs a demo account's token; jsonBody: the body must be a JSON object, parsed into Call::json.
    struct Route
    {
        const char *path;
        const char *method;
        Handler handler;
        bool bearer = false;
        bool jsonBody = false;
        bool prefix = false;
    };
    static const Route kTestRoutes[];
    static const Route kSocialRoutes[];
    static const Route kApiRoutes[];
    static const Route kPortalRoutes[];
    template <size_t N>
    static const Route *findRoute(const Route (&routes)[N], const QString &path);

    bool scriptedReply(const Call &call, Reply *reply);
    Reply dispatch(const Call &call);
    Reply testEndpoint(const Call &call);
    Reply apiEndpoint(const Call &call, const Route &route);

    // Test endpoints.
    Reply testReset(const Call &call, const Account *account);
    Reply testScript(const Call &call, const Account *account);
    Reply testRequests(const Call &call, const Account *account);
    Reply testTickets(const Call &call, const Account *account);

    // Facebook and Google stand-ins, on both origins.
    Reply facebookDialog(const Call &call, const Account *account);
    Reply facebookAccessToken(const Call &call, const Account *account);
    Reply facebookProfile(const Call &call, const Account *account);
    Reply googleConsent(const Call &call, const Account *account);

    // API origin.
    Reply authEmail(const Call &call, const Account *account);
    Reply authFacebook(const Call &call, const Account *account);
    Reply authGoogle(const Call &call, const Account *account);
    Reply resetPassword(const Call &call, const Account *account);
    Reply userPlan(const Call &call, const Account *account);
    Reply userBandwidth(const Call &call, const Account *account);
    Reply userDetails(const Call &call, const Account *account);
    Reply userIp(const Call &call, const Account *account);
    Reply serverList(const Call &call, const Account *account);
    Reply bestServer(const Call &call, const Account *account);
    Reply openVpnConfig(const Call &call, const Account *account);
    Reply openVpnLogin(const Call &call, const Account *account);
    Reply appUpdate(const Call &call, const Account *account);
    Reply autoAuthUrl(const Call &call, const Account *account);
    Reply userTicket(const Call &call, const Account *account);
    Reply anonymousTicket(const Call &call, const Account *account);
    Reply storeTicket(const QByteArray &body, const Account *account);

    // Portal origin.
    Reply staticPage(const Call &call, const Account *account);
    Reply infoPage(const Call &call, const Account *account);
    Reply markerImage(const Call &call, const Account *account);
    Reply staticMap(const Call &call, const Account *account);
    Reply autoAuth(const Call &call, const Account *account);
    Reply viewTicket(const Call &call, const Account *account);
    Reply facebookRedirect(const Call &call, const Account *account);

    const Account *accountByToken(const QByteArray &authorization, Reply *denied) const;
    const Account *accountByEmail(const QString &email) const;
    QString expand(QString text) const;

    static Script parseScript(const QJsonObject &body);
    QJsonObject recordRequest(const Call &call);
    bool takeScript(const Call &call, Script *script);
    bool wait(int delayMs);

    QJsonObject m_data;
    Coastlines m_coastlines;
    std::vector<Account> m_accounts;
    QString m_stateDir;
    QString m_apiBase;
    QString m_portalBase;
    QString m_openVpnCa;
    bool m_reportPeerAddress = false;
    QHash<QString, QByteArray> m_images;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::vector<Script> m_scripts;
    QJsonArray m_requests;
    QJsonArray m_tickets;
    QHash<QString, QString> m_autoAuthKeys; // one-time key -> account e-mail
    int m_nextTicket = 1001;
    qint64 m_sequence = 0;
};

} // namespace provider
