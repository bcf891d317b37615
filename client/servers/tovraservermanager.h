#pragma once

#include <QList>
#include <QObject>

#include "servers/tovraserver.h"

// Keeps the four server lists and picks the one the server picker shows.
class TovraServerManager : public QObject
{
    Q_OBJECT

public:
    explicit TovraServerManager(QObject *parent = nullptr);

    void SetServerLists(const QList<TovraServer> &full, const QList<TovraServer> &smart,
                        const QList<TovraServer> &fullB2b, const QList<TovraServer> &smartB2b);
    void ApplyMainList();
    // Whether the signed-in user is a B2B user; the authentication manager keeps it current.
    void setB2bUser(bool b2b) { m_b2bUser = b2b; }
    bool ApplySmartListSetting();

    QList<TovraServer> &GetMainList() { return m_mainList; }
    const QList<TovraServer> &fullList() const { return m_fullList; }
    const QList<TovraServer> &smartList() const { return m_smartList; }
    const QList<TovraServer> &fullB2bList() const { return m_fullB2bList; }
    const QList<TovraServer> &smartB2bList() const { return m_smartB2bList; }
    bool isSmartApplied() const { return m_smartApplied; }

    void LoadFavorites();
    void ClearFavorites();
    void SetFavorite(const QString &key);

    int IndexOfFavorite() const;
    int IndexOfNearest() const;
    int IndexOfFirstAlive() const;
    int IndexOfLastUsed() const;
    int StartIndex() const;

signals:
    void ServersUpdated();

private:
    QList<TovraServer> m_mainList;
    QList<TovraServer> m_fullList;
    QList<TovraServer> m_smartList;
    QList<TovraServer> m_fullB2bList;
    QList<TovraServer> m_smartB2bList;
    bool m_smartApplied = false;
    bool m_b2bUser = false;
};
