#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "support/standinprovider.h"

static const int kRetryMs = 300;
static const QString kFirst = QStringLiteral("First attempt to request new IP failed. Second attempt in 3 sec.");
static const QString kSecond = QStringLiteral("Second attempt to request new IP failed. Disconnect here.");

static QJsonObject IpReply(const QString &ip, int times = 1, int delayMs = 0)
{
    return QJsonObject{
        {"path", "/users/me/ip"},
        {"status", 200},
        {"times", times},
        {"delayMs", delayMs},
        {"body", QStringLiteral("{\"ip\": \"%1\", \"location\": {\"coordinates\": [5.5, 51.5]}}").arg(ip)}};
}

class tst_TovraIpManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void assignedCheck_data();
    void assignedCheck();
    void newCheckReplacesPendingRetry();
    void requestInFlightDropped_data();
    void requestInFlightDropped();
    void localAnswer();

private:
    // The lines the check logged, and that it answered exactly once, also after the retry delay passed again.
    void verifySingleAnswer(QSignalSpy &finished, bool result, const QStringList &lines);

    ProviderFixture m_fixture;
    TovraIpManager *m_ip = AppContext::instance()->ipManager();
};

void tst_TovraIpManager::initTestCase()
{
    QVERIFY2(m_fixture.start(), qPrintable(m_fixture.provider.errorString()));
    m_ip->setTimings({kRetryMs});
}

void tst_TovraIpManager::init()
{
    QVERIFY(m_fixture.reset());
    m_ip->firstAttempt = true;
    m_ip->localIp = QStringLiteral("203.0.113.10");
}

void tst_TovraIpManager::verifySingleAnswer(QSignalSpy &finished, bool result, const QStringList &lines)
{
    QVERIFY(finished.count() == 1 || finished.wait(20000));
    QTest::qWait(kRetryMs * 2);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), result);
    QCOMPARE(LogCapture::lines().filter(QRegularExpression("^Assigned IP: |attempt to request new IP failed")), lines);
    QVERIFY(m_ip->firstAttempt);
}

void tst_TovraIpManager::assignedCheck_data()
{
    QTest::addColumn<QString>("localIp");
    QTest::addColumn<QList<QJsonObject>>("answers");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("lines");

    const QJsonObject failure{{"path", "/users/me/ip"}, {"status", 500}, {"times", 1}};
    QTest::newRow("new address at once") << "203.0.113.10" << QList<QJsonObject>{IpReply("10.8.0.1")} << true
                                         << QStringList{"Assigned IP: 10.8.0.1"};
    QTest::newRow("unchanged twice") << "203.0.113.10" << QList<QJsonObject>{IpReply("203.0.113.10", 2)} << false
                                     << QStringList{"Assigned IP: 203.0.113.10", kFirst, "Assigned IP: 203.0.113.10",
                                                    kSecond};
    QTest::newRow("error, then new address") << "203.0.113.10" << QList<QJsonObject>{failure, IpReply("10.8.0.2")}
                                             << true << QStringList{"Assigned IP: ", kFirst, "Assigned IP: 10.8.0.2"};
    // Answered long after the request's time limit: both attempts are aborted.
    QTest::newRow("no answer in time") << "203.0.113.10" << QList<QJsonObject>{IpReply("10.8.0.4", 2, 30000)} << false
                                       << QStringList{"Assigned IP: ", kFirst, "Assigned IP: ", kSecond};
    QTest::newRow("unknown local address, any new one counts")
        << "" << QList<QJsonObject>{IpReply("10.8.0.3")} << true << QStringList{"Assigned IP: 10.8.0.3"};
}

void tst_TovraIpManager::assignedCheck()
{
    QFETCH(QString, localIp);
    QFETCH(QList<QJsonObject>, answers);
    QFETCH(bool, result);
    QFETCH(QStringList, lines);
    // Scripts are taken newest first: push the last answer first.
    for (int i = answers.size() - 1; i >= 0; --i)
        QVERIFY(m_fixture.provider.script(answers.at(i)));
    m_ip->localIp = localIp;
    // Only the row that waits for the time limit shortens it; the others must never meet it.
    const bool late = answers.first().value("delayMs").toInt() > 0;
    AppContext::instance()->apiManager()->setTimings({late ? 1000 : TovraApiManager::Timings().assignedIpTimeoutMs});
    QSignalSpy finished(m_ip, &TovraIpManager::RemoteIpCheckFinished);
    m_ip->RequestRemoteIp();
    verifySingleAnswer(finished, result, lines);
    QCOMPARE(m_fixture.provider.requests("/users/me/ip").size(), lines.size() > 1 ? 2 : 1);
}

void tst_TovraIpManager::newCheckReplacesPendingRetry()
{
    QVERIFY(m_fixture.provider.script(IpReply("10.8.0.9", 0)));
    m_ip->setTimings({5000});
    m_ip->localIp = QStringLiteral("10.8.0.9");
    QSignalSpy finished(m_ip, &TovraIpManager::RemoteIpCheckFinished);
    m_ip->RequestRemoteIp();
    QTRY_VERIFY_WITH_TIMEOUT(!m_ip->firstAttempt, 10000);
    // The tunnel came up again meanwhile: a fresh check while the retry waits.
    m_ip->localIp = QStringLiteral("203.0.113.10");
    m_ip->setTimings({kRetryMs});
    m_ip->RequestRemoteIp();
    verifySingleAnswer(finished, true, {"Assigned IP: 10.8.0.9", kFirst, "Assigned IP: 10.8.0.9"});
    QCOMPARE(m_fixture.provider.requests("/users/me/ip").size(), 2);
}

void tst_TovraIpManager::requestInFlightDropped_data()
{
    QTest::addColumn<bool>("secondCheck"); // false: the tunnel dropped, the check is cancelled
    QTest::newRow("second check") << true;
    QTest::newRow("cancelled") << false;
}

// The first request's late failure must neither end the next check nor start a retry.
void tst_TovraIpManager::requestInFlightDropped()
{
    QFETCH(bool, secondCheck);
    QVERIFY(m_fixture.provider.script(IpReply("10.8.0.5")));
    QVERIFY(m_fixture.provider.script(
        QJsonObject{{"path", "/users/me/ip"}, {"status", 500}, {"times", 1}, {"delayMs", 1500}}));
    QSignalSpy finished(m_ip, &TovraIpManager::RemoteIpCheckFinished);
    m_ip->RequestRemoteIp();
    QTRY_COMPARE_WITH_TIMEOUT(m_fixture.provider.requests("/users/me/ip").size(), 1, 10000);
    secondCheck ? m_ip->RequestRemoteIp() : m_ip->CancelAssignedIpCheck();
    // Long enough for the dropped request's failure and a retry it could start.
    QTest::qWait(3000);
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), secondCheck ? 1 : 0, 20000);
    QVERIFY(!secondCheck || finished.at(0).at(0).toBool());
    QVERIFY(LogCapture::lines().filter("attempt to request new IP failed").isEmpty());
    QCOMPARE(m_fixture.provider.requests("/users/me/ip").size(), secondCheck ? 2 : 1);
}

void tst_TovraIpManager::localAnswer()
{
    // A local request and an assigned-IP check in flight together: each answer reaches its own side.
    QVERIFY(m_fixture.provider.script(IpReply("198.51.100.20", 0)));
    QSignalSpy local(m_ip, &TovraIpManager::LocalIpDataReceived);
    QSignalSpy finished(m_ip, &TovraIpManager::RemoteIpCheckFinished);
    m_ip->RequestLocalIp();
    m_ip->RequestRemoteIp();
    QVERIFY(local.wait(10000));
    QCOMPARE(m_ip->localIp, QStringLiteral("198.51.100.20"));
    QCOMPARE(m_ip->latitude, 51.5);
    QCOMPARE(m_ip->longitude, 5.5);
    QVERIFY(LogCapture::contains("Local IP: 198.51.100.20"));
    QVERIFY(LogCapture::contains("Local latitude: 51.5 longitude: 5.5"));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
    QTest::qWait(kRetryMs * 2);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(local.count(), 1);
    QCOMPARE(m_ip->assignedIp, QStringLiteral("198.51.100.20"));
}

QTEST_MAIN(tst_TovraIpManager)
#include "tst_tovraipmanager.moc"
