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
    bool ApplySmartListSetting();

    QList<TovraServer> &GetMainList() { return mainList; }
    const QList<TovraServer> &FullList() const { return fullList; }
    const QList<TovraServer> &SmartList() const { return smartList; }
    const QList<TovraServer> &FullB2bList() const { return fullB2bList; }
    const QList<TovraServer> &SmartB2bList() const { return smartB2bList; }
    bool IsSmartApplied() const { return smartApplied; }

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
    QList<TovraServer> mainList;
    QList<TovraServer> fullList;
    QList<TovraServer> smartList;
    QList<TovraServer> fullB2bList;
    QList<TovraServer> smartB2bList;
    bool smartApplied = false;
};
