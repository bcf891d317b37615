#include <QtTest>

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "servers/tovraservermanager.h"

// Rows of a main list: "key:flags" with flags n (nearest), f (favourite), d (not alive).
static QList<TovraServer> Rows(const QStringList &specs)
{
    QList<TovraServer> list;
    for (const QString &spec : specs) {
        TovraServer s;
        s.key = spec.section(QLatin1Char(':'), 0, 0);
        const QString flags = spec.section(QLatin1Char(':'), 1);
        s.isNearest = flags.contains(QLatin1Char('n'));
        s.isFavorite = flags.contains(QLatin1Char('f'));
        s.isAlive = !flags.contains(QLatin1Char('d'));
        list << s;
    }
    return list;
}

static QStringList Keys(const QList<TovraServer> &list)
{
    QStringList keys;
    for (const TovraServer &s : list)
        keys << s.key;
    return keys;
}

class tst_TovraServerManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void mainList_data();
    void mainList();
    void smartListSetting();
    void startIndex_data();
    void startIndex();
    void favorites();

private:
    void SetB2bUser(bool b2b);
    void Fill(const QList<TovraServer> &main);

    TovraServerManager *manager = nullptr;
    Configuration *config = nullptr;
};

void tst_TovraServerManager::SetB2bUser(bool b2b)
{
    TovraUserData data;
    data.isB2b = b2b;
    AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, data);
}

// Makes main the main list (the regular full list with the smart list off).
void tst_TovraServerManager::Fill(const QList<TovraServer> &main)
{
    config->smartServerList = false;
    SetB2bUser(false);
    manager->SetServerLists(main, {}, {}, {});
}

void tst_TovraServerManager::init()
{
    manager = AppContext::instance()->serverManager();
    config = AppContext::instance()->config();
    *config = Configuration();
    SetB2bUser(false);
}

void tst_TovraServerManager::mainList_data()
{
    QTest::addColumn<bool>("smart");
    QTest::addColumn<bool>("b2bUser");
    QTest::addColumn<bool>("b2bSetting");
    QTest::addColumn<QString>("expectedList");
    QTest::addColumn<QString>("log");
    QTest::newRow("smart, b2b user") << true << true << true << "smartB2b"
                                     << "B2b smart server list is enabled. Set it as main server list.";
    QTest::newRow("smart, b2b user with b2b list off")
        << true << true << false << "smart"
        << "Regular smart server list is enabled. Set it as main server list.";
    QTest::newRow("smart, regular user") << true << false << true << "smart"
                                         << "Regular smart server list is enabled. Set it as main server list.";
    QTest::newRow("full, b2b user") << false << true << true << "fullB2b"
                                    << "Smart server list is disabled. Using full B2b list as main server list.";
    QTest::newRow("full, b2b user with b2b list off")
        << false << true << false << "full"
        << "Smart server list is disabled. Using full list as main server list.";
    QTest::newRow("full, regular user") << false << false << true << "full"
                                        << "Smart server list is disabled. Using full list as main server list.";
}

void tst_TovraServerManager::mainList()
{
    QFETCH(bool, smart);
    QFETCH(bool, b2bUser);
    QFETCH(bool, b2bSetting);
    QFETCH(QString, expectedList);
    QFETCH(QString, log);
    config->smartServerList = smart;
    config->b2bServerList = b2bSetting;
    SetB2bUser(b2bUser);
    QSignalSpy updated(manager, &TovraServerManager::ServersUpdated);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(log));
    manager->SetServerLists(Rows({"full"}), Rows({"smart"}), Rows({"fullB2b"}), Rows({"smartB2b"}));
    QCOMPARE(Keys(manager->GetMainList()), QStringList{expectedList});
    QCOMPARE(manager->IsSmartApplied(), smart);
    QCOMPARE(updated.count(), 1);
    // Applying again emits again, though nothing changed.
    manager->ApplyMainList();
    QCOMPARE(updated.count(), 2);
}

void tst_TovraServerManager::smartListSetting()
{
    config->smartServerList = true;
    manager->SetServerLists(Rows({"full"}), Rows({"smart"}), {}, {});
    QSignalSpy updated(manager, &TovraServerManager::ServersUpdated);
    QVERIFY(!manager->ApplySmartListSetting());
    QCOMPARE(updated.count(), 0);
    config->smartServerList = false;
    QTest::ignoreMessage(QtDebugMsg, "Smart list settings were changed. Applying changes.");
    QVERIFY(manager->ApplySmartListSetting());
    QCOMPARE(Keys(manager->GetMainList()), QStringList{"full"});
    QCOMPARE(updated.count(), 1);
    QVERIFY(!manager->ApplySmartListSetting());
}

void tst_TovraServerManager::startIndex_data()
{
    QTest::addColumn<bool>("nearestOn");
    QTest::addColumn<bool>("favoriteOn");
    QTest::addColumn<QString>("lastUsed");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<int>("expected");

    const QStringList mixed{"a:d", "b:f", "c:n", "d:", "e:n"};
    QTest::newRow("nearest on: first nearest row") << true << true << "d" << mixed << 2;
    QTest::newRow("nearest on, none nearest, favourite on")
        << true << true << "d" << QStringList{"a:d", "b:", "c:f"} << 2;
    QTest::newRow("favourite on: first favourite") << false << true << "d" << mixed << 1;
    QTest::newRow("favourite on, no favourite: row 0") << false << true << "d" << QStringList{"a:d", "b:n"} << 0;
    QTest::newRow("favourite on, empty list: row 0") << false << true << "d" << QStringList{} << 0;
    QTest::newRow("last used") << false << false << "d" << mixed << 3;
    QTest::newRow("last used not alive: nearest") << false << false << "a" << mixed << 2;
    QTest::newRow("nearest on, no nearest, last used dead: first alive")
        << true << false << "a" << QStringList{"a:d", "b:d", "c:", "d:"} << 2;
    QTest::newRow("last used: first alive row with its key")
        << false << false << "x" << QStringList{"x:d", "y:", "x:"} << 2;
    QTest::newRow("last used unknown, no nearest: first alive")
        << false << false << "z" << QStringList{"x:d", "y:", "x:"} << 1;
    QTest::newRow("nothing alive: row 0") << false << false << "" << QStringList{"a:d", "b:d"} << 0;
    QTest::newRow("empty last used matches no keyless row")
        << false << false << "" << QStringList{":d", "b:", ":"} << 1;
}

void tst_TovraServerManager::startIndex()
{
    QFETCH(bool, nearestOn);
    QFETCH(bool, favoriteOn);
    QFETCH(QString, lastUsed);
    QFETCH(QStringList, rows);
    QFETCH(int, expected);
    Fill(Rows(rows));
    config->connectToNearest = nearestOn;
    config->connectToFavorite = favoriteOn;
    config->lastUsedServer = lastUsed;
    QCOMPARE(manager->StartIndex(), expected);
}

void tst_TovraServerManager::favorites()
{
    Fill(Rows({"a:f", "b:", "c:", "b:", "d:f"}));
    manager->SetFavorite(QStringLiteral("b"));
    QList<bool> marks;
    for (const TovraServer &s : manager->GetMainList())
        marks << s.isFavorite;
    QCOMPARE(marks, (QList<bool>{false, true, false, true, false}));
    QCOMPARE(manager->IndexOfFavorite(), 1);

    config->favoriteServer = QStringLiteral("c");
    manager->LoadFavorites();
    QCOMPARE(manager->IndexOfFavorite(), 2);
    manager->ClearFavorites();
    QCOMPARE(manager->IndexOfFavorite(), -1);

    // An empty setting marks nothing, not even a row without a key.
    Fill(Rows({":", "b:"}));
    config->favoriteServer.clear();
    manager->LoadFavorites();
    QCOMPARE(manager->IndexOfFavorite(), -1);
}

QTEST_MAIN(tst_TovraServerManager)
#include "tst_tovraservermanager.moc"
