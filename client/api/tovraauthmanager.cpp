#include "api/tovraauthmanager.h"

#include <QDebug>
#include <QFile>

#include "api/tovraapimanager.h"
#include "app/appcontext.h"
#include "app/ownerfile.h"
#include "app/scramble.h"
#include "servers/tovraservermanager.h"

TovraAuthManager::TovraAuthManager(QObject *parent) : QObject(parent)
{
    qRegisterMetaType<TovraAuthManager::eAuthResults>("TovraAuthManager::eAuthResults");
}

void TovraAuthManager::LoginEmail(const QString &email, const QString &password)
{
    m_userData.email = email;
    AppContext::instance()->apiManager()->AuthEmail(email, password);
}

void TovraAuthManager::clearUserData()
{
    m_userData.clear();
    AppContext::instance()->serverManager()->setB2bUser(false);
}

bool TovraAuthManager::LoadToken()
{
    QFile file(AppContext::instance()->dataPaths()->tokenFile());
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) {
        clearUserData();
        return false;
    }
    // The token is one short line; a file that runs on without a line end is not read whole.
    constexpr qint64 maxLineBytes = 4096;
    const QByteArray firstLine = file.readLine(maxLineBytes + 2);
    file.close();
    if (firstLine.size() > maxLineBytes) {
        qDebug() << "Token file line longer than" << maxLineBytes << "bytes; no token loaded";
        clearUserData();
        return false;
    }
    const QString line = QString::fromLatin1(firstLine).trimmed();
    const QString token = UnscrambleText(line);
    // A file that does not unscramble to anything holds no token.
    if (token.isEmpty()) {
        clearUserData();
        return false;
    }
    m_userData.token = token;
    return true;
}

void TovraAuthManager::SaveToken()
{
    const QString path = AppContext::instance()->dataPaths()->tokenFile();
    EnsureParentDir(path);
    QFile file;
    QString error;
    if (OwnerFile::openForWriting(path, &file, QIODevice::NotOpen, &error)) {
        file.write(ScrambleText(m_userData.token).toLatin1());
        file.close();
    } else {
        qDebug().noquote() << QStringLiteral("Can't save user token: ") + error;
    }
    AppContext::instance()->apiManager()->token = m_userData.token;
}

void TovraAuthManager::RequestUserData()
{
    TovraApiManager *api = AppContext::instance()->apiManager();
    api->token = m_userData.token;
    api->GetUserPlan();
}

bool TovraAuthManager::DeleteToken()
{
    QFile file(AppContext::instance()->dataPaths()->tokenFile());
    // Without a file there is nothing to delete: the session is over all the same.
    if (!file.exists() || file.remove()) {
        clearUserData();
        qDebug() << "User token was deleted.";
        return true;
    }
    qDebug().noquote() << QStringLiteral("Error on deleting User Token: ") + file.errorString();
    return false;
}

void TovraAuthManager::OnCredentialsChecked(TovraAuthManager::eAuthResults result, const QString &token)
{
    switch (result) {
    case AuthFailed:
        qDebug() << "User credentials are incorrect";
        emit UserDataReceived(AuthFailed);
        break;
    case AuthIpBlacklisted:
        qDebug() << "User's IP is in blacklist";
        emit UserDataReceived(AuthIpBlacklisted);
        break;
    case AuthSuccess:
        m_userData.token = token;
        SaveToken();
        qDebug() << "User credentials checked. Getting user data";
        RequestUserData();
        break;
    default:
        break;
    }
}

void TovraAuthManager::OnUserDataChecked(TovraAuthManager::eAuthResults result, const TovraUserData &data)
{
    switch (result) {
    case AuthSuccess:
        qDebug() << "User data by token received succesfully";
        m_userData.email = data.email;
        m_userData.id = data.id;
        m_userData.firstName = data.firstName;
        m_userData.lastName = data.lastName;
        m_userData.bytesTotal = data.bytesTotal;
        m_userData.bytesUsed = qMin(data.bytesUsed, data.bytesTotal);
        m_userData.isUnlimited = data.isUnlimited;
        m_userData.isAnnual = data.isAnnual;
        m_userData.isTrial = data.isTrial;
        m_userData.status = data.status;
        m_userData.isB2b = data.isB2b;
        AppContext::instance()->serverManager()->setB2bUser(data.isB2b);
        emit UserDataReceived(AuthSuccess);
        break;
    case AuthFailed:
        qDebug() << "Token check failed";
        DeleteToken();
        emit UserDataReceived(AuthFailed);
        break;
    case AuthAccountInactive:
        qDebug() << "User has pending/suspended status";
        DeleteToken();
        m_userData.isUnlimited = data.isUnlimited;
        m_userData.isAnnual = data.isAnnual;
        m_userData.isTrial = data.isTrial;
        m_userData.status = data.status;
        emit UserDataReceived(AuthAccountInactive);
        break;
    default:
        break;
    }
}

void TovraAuthManager::OnTrafficUpdated(bool ok, quint64 bytesTotal, quint64 bytesUsed, bool isUnlimited)
{
    if (ok) {
        m_userData.bytesTotal = bytesTotal;
        m_userData.isUnlimited = isUnlimited;
        m_userData.bytesUsed = qMin(bytesUsed, bytesTotal);
    }
    emit UserTrafficUpdated(ok);
}
