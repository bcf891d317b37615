#include "servers/tovraservermanager.h"

#include <QDebug>

#include "app/appcontext.h"

TovraServerManager::TovraServerManager(QObject *parent) : QObject(parent) {}

void TovraServerManager::SetServerLists(const QList<TovraServer> &full, const QList<TovraServer> &smart,
                                        const QList<TovraServer> &fullB2b, const QList<TovraServer> &smartB2b)
{
    m_fullList = full;
    m_smartList = smart;
    m_fullB2bList = fullB2b;
    m_smartB2bList = smartB2b;
    ApplyMainList();
}

void TovraServerManager::ApplyMainList()
{
    AppContext *context = AppContext::instance();
    const Configuration *config = context->config();
    const bool b2b = m_b2bUser && config->b2bServerList;
    if (config->smartServerList) {
        if (b2b) {
            qDebug() << "B2b smart server list is enabled. Set it as main server list.";
            m_mainList = m_smartB2bList;
        } else {
            qDebug() << "Regular smart server list is enabled. Set it as main server list.";
            m_mainList = m_smartList;
        }
    } else {
        if (b2b) {
            qDebug() << "Smart server list is disabled. Using full B2b list as main server list.";
            m_mainList = m_fullB2bList;
        } else {
            qDebug() << "Smart server list is disabled. Using full list as main server list.";
            m_mainList = m_fullList;
        }
    }
    m_smartApplied = config->smartServerList;
    emit ServersUpdated();
}

bool TovraServerManager::ApplySmartListSetting()
{
    if (m_smartApplied == AppContext::instance()->config()->smartServerList)
        return false;
    qDebug() << "Smart list settings were changed. Applying changes.";
    ApplyMainList();
    return true;
}

void TovraServerManager::LoadFavorites()
{
    const QString favorite = AppContext::instance()->config()->favoriteServer;
    for (TovraServer &server : m_mainList)
        server.isFavorite = !favorite.isEmpty() && server.key == favorite;
}

void TovraServerManager::ClearFavorites()
{
    for (TovraServer &server : m_mainList)
        server.isFavorite = false;
}

void TovraServerManager::SetFavorite(const QString &key)
{
    ClearFavorites();
    for (TovraServer &server : m_mainList) {
        if (server.key == key)
            server.isFavorite = true;
    }
}

int TovraServerManager::IndexOfFavorite() const
{
    for (int i = 0; i < m_mainList.size(); ++i) {
        if (m_mainList.at(i).isFavorite)
            return i;
    }
    return -1;
}

int TovraServerManager::IndexOfNearest() const
{
    for (int i = 0; i < m_mainList.size(); ++i) {
        if (m_mainList.at(i).isNearest)
            return i;
    }
    return -1;
}

int TovraServerManager::IndexOfFirstAlive() const
{
    for (int i = 0; i < m_mainList.size(); ++i) {
        if (m_mainList.at(i).isAlive)
            return i;
    }
    return -1;
}

int TovraServerManager::IndexOfLastUsed() const
{
    const QString lastUsed = AppContext::instance()->config()->lastUsedServer;
    if (lastUsed.isEmpty())
        return -1;
    for (int i = 0; i < m_mainList.size(); ++i) {
        if (m_mainList.at(i).key == lastUsed && m_mainList.at(i).isAlive)
            return i;
    }
    return -1;
}

int TovraServerManager::StartIndex() const
{
    const Configuration *config = AppContext::instance()->config();
    const int nearest = IndexOfNearest();
    if (config->connectToNearest && nearest != -1)
        return nearest;
    if (config->connectToFavorite)
        return qMax(IndexOfFavorite(), 0);
    const int lastUsed = IndexOfLastUsed();
    if (lastUsed != -1)
        return lastUsed;
    if (nearest != -1)
        return nearest;
    return qMax(IndexOfFirstAlive(), 0);
}
