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

class tst_TovraServerManager : public QObject
{
    Q_OBJECT

private slots:
    void init() { *m_config = Configuration(); }
    void mainList_data();
    void mainList();
    void startIndex_data();
    void startIndex();
    void favorites();

private:
    // The regular full list as the main list, holding rows.
    void fill(const QStringList &rows)
    {
        m_config->smartServerList = false;
        setB2bUser(false);
        m_manager->SetServerLists(Rows(rows), {}, {}, {});
    }
    void setB2bUser(bool b2b)
    {
        TovraUserData data;
        data.isB2b = b2b;
        AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, data);
    }

    TovraServerManager *m_manager = AppContext::instance()->serverManager();
    Configuration *m_config = AppContext::instance()->config();
};

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
    QTest::newRow("full, b2b user") << false << true << true << "fullB2b"
                                    << "Smart server list is disabled. Using full B2b list as main server list.";
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
    m_config->smartServerList = smart;
    m_config->b2bServerList = b2bSetting;
    setB2bUser(b2bUser);
    QSignalSpy updated(m_manager, &TovraServerManager::ServersUpdated);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(log));
    m_manager->SetServerLists(Rows({"full"}), Rows({"smart"}), Rows({"fullB2b"}), Rows({"smartB2b"}));
    QCOMPARE(m_manager->GetMainList().value(0).key, expectedList);
    QCOMPARE(updated.count(), 1);
    // Applying again emits again, though nothing changed; the smart setting applies only when it changed.
    QVERIFY(!m_manager->ApplySmartListSetting());
    m_manager->ApplyMainList();
    QCOMPARE(updated.count(), 2);
    m_config->smartServerList = !smart;
    QTest::ignoreMessage(QtDebugMsg, "Smart list settings were changed. Applying changes.");
    QVERIFY(m_manager->ApplySmartListSetting());
    QCOMPARE(m_manager->GetMainList().value(0).key.startsWith("smart"), !smart);
    QCOMPARE(updated.count(), 3);
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
    QTest::newRow("nearest on, none nearest, favourite on") << true << true << "d" << QStringList{"a:d", "c:f"} << 1;
    QTest::newRow("favourite on, no favourite: row 0") << false << true << "d" << QStringList{"a:d", "b:n"} << 0;
    QTest::newRow("last used") << false << false << "d" << mixed << 3;
    QTest::newRow("last used not alive: nearest") << false << false << "a" << mixed << 2;
    QTest::newRow("no nearest, last used dead: first alive") << true << false << "a" << QStringList{"a:d", "c:"} << 1;
    QTest::newRow("last used: first alive row with its key")
        << false << false << "x" << QStringList{"x:d", "y:", "x:"} << 2;
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
    fill(rows);
    m_config->connectToNearest = nearestOn;
    m_config->connectToFavorite = favoriteOn;
    m_config->lastUsedServer = lastUsed;
    QCOMPARE(m_manager->StartIndex(), expected);
}

void tst_TovraServerManager::favorites()
{
    fill({"a:f", "b:", "c:", "b:", "d:f"});
    m_manager->SetFavorite(QStringLiteral("b"));
    QList<bool> marks;
    for (const TovraServer &s : m_manager->GetMainList())
        marks << s.isFavorite;
    QCOMPARE(marks, (QList<bool>{false, true, false, true, false}));
    m_config->favoriteServer = QStringLiteral("c");
    m_manager->LoadFavorites();
    QCOMPARE(m_manager->IndexOfFavorite(), 2);
    m_manager->ClearFavorites();
    QCOMPARE(m_manager->IndexOfFavorite(), -1);
    // An empty setting marks nothing, not even a row without a key.
    fill({":", "b:"});
    m_config->favoriteServer.clear();
    m_manager->LoadFavorites();
    QCOMPARE(m_manager->IndexOfFavorite(), -1);
}

QTEST_MAIN(tst_TovraServerManager)
#include "tst_tovraservermanager.moc"
