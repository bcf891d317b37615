// The stand-in provider: REST API and web portal answers, test scripting,
// request recording and ticket storage. Handlers run on httplib's worker
// threads; every member that changes after Load() is guarded by m_mutex.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

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
    bool Load(const QString &dataFile, const QString &stateDir, QString *error);
    void SetOrigins(const QString &apiBase, const QString &portalBase);

    // Entry point of both servers.
    void Handle(Origin origin, const httplib::Request &req, httplib::Response &res);

    // Wakes scripted delays so the servers can stop.
    void Shutdown();

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
    static const Route *FindRoute(const Route (&routes)[N], const QString &path);

    bool ScriptedReply(const Call &call, Reply *reply);
    Reply Dispatch(const Call &call);
    Reply TestEndpoint(const Call &call);
    Reply ApiEndpoint(const Call &call, const Route &route);

    // Test endpoints.
    Reply TestReset(const Call &call, const Account *account);
    Reply TestScript(const Call &call, const Account *account);
    Reply TestRequests(const Call &call, const Account *account);
    Reply TestTickets(const Call &call, const Account *account);

    // Facebook and Google stand-ins, on both origins.
    Reply FacebookDialog(const Call &call, const Account *account);
    Reply FacebookAccessToken(const Call &call, const Account *account);
    Reply FacebookProfile(const Call &call, const Account *account);
    Reply GoogleConsent(const Call &call, const Account *account);

    // API origin.
    Reply AuthEmail(const Call &call, const Account *account);
    Reply AuthFacebook(const Call &call, const Account *account);
    Reply AuthGoogle(const Call &call, const Account *account);
    Reply ResetPassword(const Call &call, const Account *account);
    Reply Plan(const Call &call, const Account *account);
    Reply Bandwidth(const Call &call, const Account *account);
    Reply UserDetails(const Call &call, const Account *account);
    Reply UserIp(const Call &call, const Account *account);
    Reply Servers(const Call &call, const Account *account);
    Reply BestServer(const Call &call, const Account *account);
    Reply OpenVpnConfig(const Call &call, const Account *account);
    Reply AppUpdate(const Call &call, const Account *account);
    Reply AutoAuthUrl(const Call &call, const Account *account);
    Reply UserTicket(const Call &call, const Account *account);
    Reply AnonymousTicket(const Call &call, const Account *account);
    Reply Ticket(const QByteArray &body, const Account *account);

    // Portal origin.
    Reply StaticPage(const Call &call, const Account *account);
    Reply InfoPage(const Call &call, const Account *account);
    Reply MarkerImage(const Call &call, const Account *account);
    Reply StaticMap(const Call &call, const Account *account);
    Reply AutoAuth(const Call &call, const Account *account);
    Reply ViewTicket(const Call &call, const Account *account);
    Reply FacebookRedirect(const Call &call, const Account *account);

    const Account *AccountByToken(const QByteArray &authorization, Reply *denied) const;
    const Account *AccountByEmail(const QString &email) const;
    QString Expand(QString text) const;

    static Script ParseScript(const QJsonObject &body);
    QJsonObject RecordRequest(const Call &call);
    bool TakeScript(const Call &call, Script *script);
    bool Wait(int delayMs);

    QJsonObject m_data;
    std::vector<Account> m_accounts;
    QString m_stateDir;
    QString m_apiBase;
    QString m_portalBase;
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
