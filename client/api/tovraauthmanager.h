#pragma once

#include <QObject>

#include "api/tovrauserdata.h"

// The user's session: the bearer token, the token file and the signed-in user's account record.
class TovraAuthManager : public QObject
{
    Q_OBJECT

public:
    enum eAuthResults { AuthSuccess = 0, AuthFailed = 1, AuthAccountInactive = 2, AuthIpBlacklisted = 3 };
    Q_ENUM(eAuthResults)

    explicit TovraAuthManager(QObject *parent = nullptr);

    const TovraUserData &userData() const { return m_userData; }
    // For the social sign-in, which records the account's e-mail before it signs in.
    void setEmail(const QString &email) { m_userData.email = email; }

    void LoginEmail(const QString &email, const QString &password);
    bool LoadToken();
    void RequestUserData();
    bool DeleteToken();

    // Called by the API manager.
    void OnCredentialsChecked(TovraAuthManager::eAuthResults result, const QString &token);
    void OnUserDataChecked(TovraAuthManager::eAuthResults result, const TovraUserData &data);
    void OnTrafficUpdated(bool ok, quint64 bytesTotal, quint64 bytesUsed, bool isUnlimited);

signals:
    void UserDataReceived(TovraAuthManager::eAuthResults result);
    void UserTrafficUpdated(bool result);

private:
    // Clears the record; the server manager learns that no B2B user is signed in.
    void clearUserData();
    void SaveToken();

    TovraUserData m_userData;
};

Q_DECLARE_METATYPE(TovraAuthManager::eAuthResults)
