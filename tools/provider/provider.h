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

    Reply Route(const Call &call);
    Reply TestEndpoint(const Call &call);
    Reply ApiEndpoint(const Call &call, bool *known);
    Reply PortalEndpoint(const Call &call, bool *known);
    Reply SocialEndpoint(const Call &call, bool *known);

    Reply AuthEmail(const QJsonObject &body);
    Reply AuthFacebook(const QJsonObject &body);
    Reply AuthGoogle(const QJsonObject &body);
    Reply ResetPassword(const QJsonObject &body);
    Reply Servers(const Account &account);
    Reply BestServer(const Call &call, const Account &account);
    Reply Ticket(const QByteArray &body, const Account *account);
    Reply AutoAuthUrl(const Call &call, const Account &account);

    const Account *AccountByToken(const QByteArray &authorization, Reply *denied) const;
    const Account *AccountByEmail(const QString &email) const;
    QString Expand(QString text) const;

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
