#include <QtTest>

#include "api/tovraapimanager.h"
#include "app/appcontext.h"
#include "api/tovraipmanager.h"
#include "logcapture.h"
#include "support/standinprovider.h"

#include <memory>

static QJsonObject IpReply(const QString &ip, int times = 1)
{
    return QJsonObject{
        {"path", "/users/me/ip"},
        {"status", 200},
        {"times", times},
        {"body", QStringLiteral("{\"ip\": \"%1\", \"location\": {\"coordinates\": [5.5, 51.5]}}").arg(ip)}};
}

class tst_TovraIpManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void assignedCheck_data();
    void assignedCheck();
    void newCheckReplacesPendingRetry();
    void localAnswer();

private:
    // The answers the check logged, and that it answered exactly once, also after the retry delay passed again.
    void verifySingleAnswer(QSignalSpy &finished, bool result, const QStringList &log);

    StandInProvider provider;
    TovraIpManager *ip = nullptr;
    std::unique_ptr<LogCapture> log; // installed after the test framework's own handler
};

void tst_TovraIpManager::initTestCase()
{
    QVERIFY2(provider.start(), qPrintable(provider.errorString()));
    AppContext::instance()->apiManager()->setApiBaseUrl(provider.apiUrl());
    AppContext::instance()->apiManager()->token = QStringLiteral("demo-token-active");
    ip = AppContext::instance()->ipManager();
    ip->setRetryDelay(300);
    log = std::make_unique<LogCapture>();
}

void tst_TovraIpManager::cleanupTestCase()
{
    log.reset();
    provider.stop();
}

void tst_TovraIpManager::init()
{
    QVERIFY(provider.reset());
    ip->firstAttempt = true;
    ip->localIp = QStringLiteral("203.0.113.10");
    log->clear();
}

void tst_TovraIpManager::verifySingleAnswer(QSignalSpy &finished, bool result, const QStringList &expectedLog)
{
    QVERIFY(finished.count() == 1 || finished.wait(15000));
    QTest::qWait(ip->retryDelay() * 2);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), result);
    QCOMPARE(log->lines().filter(QRegularExpression("^Assigned IP: |attempt to request new IP failed")), expectedLog);
    QVERIFY(ip->firstAttempt);
}

void tst_TovraIpManager::assignedCheck_data()
{
    QTest::addColumn<QString>("localIp");
    QTest::addColumn<QList<QJsonObject>>("answers");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("lines");

    const QJsonObject failure{{"path", "/users/me/ip"}, {"status", 500}, {"times", 1}};
    const QJsonObject empty{{"path", "/users/me/ip"}, {"status", 200}, {"times", 1}, {"body", ""}};
    const QString first = QStringLiteral("First attempt to request new IP failed. Second attempt in 3 sec.");
    const QString second = QStringLiteral("Second attempt to request new IP failed. Disconnect here.");
    QTest::newRow("new address at once") << "203.0.113.10" << QList<QJsonObject>{IpReply("10.8.0.1")} << true
                                         << QStringList{"Assigned IP:  10.8.0.1"};
    QTest::newRow("unchanged twice") << "203.0.113.10"
                                     << QList<QJsonObject>{IpReply("203.0.113.10"), IpReply("203.0.113.10")} << false
                                     << QStringList{"Assigned IP:  203.0.113.10", first, "Assigned IP:  203.0.113.10",
                                                    second};
    QTest::newRow("error, then new address") << "203.0.113.10" << QList<QJsonObject>{failure, IpReply("10.8.0.2")}
                                             << true << QStringList{"Assigned IP:  ", first, "Assigned IP:  10.8.0.2"};
    QTest::newRow("empty body twice") << "203.0.113.10" << QList<QJsonObject>{empty, empty} << false
                                      << QStringList{"Assigned IP:  ", first, "Assigned IP:  ", second};
    QTest::newRow("unknown local address, any new one counts")
        << "" << QList<QJsonObject>{IpReply("10.8.0.3")} << true << QStringList{"Assigned IP:  10.8.0.3"};
}

void tst_TovraIpManager::assignedCheck()
{
    QFETCH(QString, localIp);
    QFETCH(QList<QJsonObject>, answers);
    QFETCH(bool, result);
    QFETCH(QStringList, lines);
    // Scripts are taken newest first: push the last answer first.
    for (int i = answers.size() - 1; i >= 0; --i)
        QVERIFY(provider.script(answers.at(i)));
    ip->localIp = localIp;
    QSignalSpy finished(ip, &TovraIpManager::RemoteIpCheckFinished);
    ip->RequestRemoteIp();
    verifySingleAnswer(finished, result, lines);
    QCOMPARE(provider.requests("/users/me/ip").size(), answers.size());
}

void tst_TovraIpManager::newCheckReplacesPendingRetry()
{
    QVERIFY(provider.script(IpReply("10.8.0.9", 0)));
    ip->setRetryDelay(5000);
    ip->localIp = QStringLiteral("10.8.0.9");
    QSignalSpy finished(ip, &TovraIpManager::RemoteIpCheckFinished);
    ip->RequestRemoteIp();
    QTRY_VERIFY_WITH_TIMEOUT(!ip->firstAttempt, 10000);
    // The tunnel came up again meanwhile: a fresh check while the retry waits.
    ip->localIp = QStringLiteral("203.0.113.10");
    ip->setRetryDelay(300);
    ip->RequestRemoteIp();
    verifySingleAnswer(finished, true,
                       {"Assigned IP:  10.8.0.9", "First attempt to request new IP failed. Second attempt in 3 sec.",
                        "Assigned IP:  10.8.0.9"});
    QCOMPARE(provider.requests("/users/me/ip").size(), 2);
}

void tst_TovraIpManager::localAnswer()
{
    // A local request and an assigned-IP check in flight together: each answer reaches its own side.
    QVERIFY(provider.script(IpReply("198.51.100.20", 0)));
    QSignalSpy local(ip, &TovraIpManager::LocalIpDataReceived);
    QSignalSpy finished(ip, &TovraIpManager::RemoteIpCheckFinished);
    ip->RequestLocalIp();
    ip->RequestRemoteIp();
    QVERIFY(local.wait(10000));
    QCOMPARE(ip->localIp, QStringLiteral("198.51.100.20"));
    QCOMPARE(ip->latitude, 51.5);
    QCOMPARE(ip->longitude, 5.5);
    QVERIFY(log->contains("Local IP:  198.51.100.20"));
    QVERIFY(log->contains("Local latitude: 51.5  longitude: 5.5"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QTest::qWait(ip->retryDelay() * 2);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(local.count(), 1);
    QCOMPARE(ip->assignedIp, QStringLiteral("198.51.100.20"));
}

QTEST_MAIN(tst_TovraIpManager)
#include "tst_tovraipmanager.moc"
