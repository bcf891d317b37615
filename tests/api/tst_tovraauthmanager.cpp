#include <QTcpServer>
#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/scramble.h"

// The token file and the session record; the requests themselves are covered by tst_tovraapimanager.
class tst_TovraAuthManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void loadToken_data();
    void loadToken();
    void loadTokenMissingOrBroken_data();
    void loadTokenMissingOrBroken();
    void saveTokenOverwrites();
    void deleteToken();
    void deleteTokenFailure();
    void traffic_data();
    void traffic();
    void userDataResults();
    void credentialResults_data();
    void credentialResults();

private:
    QString TokenFile() const { return AppContext::instance()->dataPaths()->tokenFile(); }
    void WriteTokenFile(const QByteArray &content);
    QByteArray ReadTokenFile() const;

    TovraAuthManager *auth = nullptr;
    QTemporaryDir dir;
};

void tst_TovraAuthManager::WriteTokenFile(const QByteArray &content)
{
    QVERIFY(EnsureParentDir(TokenFile()));
    QFile file(TokenFile());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray tst_TovraAuthManager::ReadTokenFile() const
{
    QFile file(TokenFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_TovraAuthManager::initTestCase()
{
    QVERIFY(dir.isValid());
    AppContext::instance()->dataPaths()->setDir(dir.path());
    auth = AppContext::instance()->authManager();
    // Requests started by the session go to a closed loopback port and fail at once.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    AppContext::instance()->apiManager()->setApiBaseUrl(QStringLiteral("https://127.0.0.1:%1").arg(port));
}

void tst_TovraAuthManager::init()
{
    QDir(dir.path() + QStringLiteral("/Data")).removeRecursively();
    auth->DeleteToken();
}

void tst_TovraAuthManager::loadToken_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("plain") << "8f14e45fceea167a5a36dedd4bea2543" << QByteArray() << QByteArray();
    QTest::newRow("trailing line feed") << "abc.def" << QByteArray() << QByteArray("\n");
    QTest::newRow("trailing CR LF") << "abc.def" << QByteArray() << QByteArray("\r\n");
    QTest::newRow("surrounding blanks") << "tok" << QByteArray("  \t") << QByteArray("  ");
    QTest::newRow("second line ignored") << "first" << QByteArray() << QByteArray("\nXXXXc2Vjb25kYYYY\n");
}

void tst_TovraAuthManager::loadToken()
{
    QFETCH(QString, token);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    WriteTokenFile(before + ScrambleText(token).toLatin1() + after);
    QVERIFY(auth->LoadToken());
    QCOMPARE(auth->userData().token, token);
}

void tst_TovraAuthManager::loadTokenMissingOrBroken_data()
{
    QTest::addColumn<bool>("create");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("missing file") << false << QByteArray();
    QTest::newRow("empty file") << true << QByteArray();
    QTest::newRow("not scrambled") << true << QByteArray("short");
    QTest::newRow("blank line") << true << QByteArray("   \n");
}

void tst_TovraAuthManager::loadTokenMissingOrBroken()
{
    QFETCH(bool, create);
    QFETCH(QByteArray, content);
    // A record from an earlier session is cleared as well.
    WriteTokenFile(ScrambleText(QStringLiteral("old")).toLatin1());
    QVERIFY(auth->LoadToken());
    QFile::remove(TokenFile());
    if (create)
        WriteTokenFile(content);
    QVERIFY(!auth->LoadToken());
    QVERIFY(auth->userData().token.isEmpty());
}

void tst_TovraAuthManager::saveTokenOverwrites()
{
    TovraApiManager *api = AppContext::instance()->apiManager();
    for (const QString &token : {QStringLiteral("first-token-which-is-long"), QStringLiteral("second")}) {
        QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
        QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
        QTest::ignoreMessage(QtDebugMsg, "User credentials checked. Getting user data");
        auth->OnCredentialsChecked(TovraAuthManager::AuthSuccess, token);
        const QByteArray content = ReadTokenFile();
        QVERIFY2(!content.contains('\n') && !content.contains('\r'), content.constData());
        QCOMPARE(UnscrambleText(QString::fromLatin1(content)), token);
        QCOMPARE(api->token, token);
        // The plan request gets no HTTP answer: a network error, which leaves the session in place.
        QVERIFY(errors.wait(10000));
        QVERIFY2(errors.at(0).at(0).toString().startsWith("Network error: "),
                 qPrintable(errors.at(0).at(0).toString()));
        QCOMPARE(received.count(), 0);
        QVERIFY(QFile::exists(TokenFile()));
        QCOMPARE(auth->userData().token, token);
    }
}

void tst_TovraAuthManager::deleteToken()
{
    WriteTokenFile(ScrambleText(QStringLiteral("t")).toLatin1());
    QVERIFY(auth->LoadToken());
    QTest::ignoreMessage(QtDebugMsg, "User token was deleted.");
    QVERIFY(auth->DeleteToken());
    QVERIFY(!QFile::exists(TokenFile()));
    QVERIFY(auth->userData().token.isEmpty());
    // Nothing left to delete still ends the session.
    QVERIFY(auth->DeleteToken());
}

void tst_TovraAuthManager::deleteTokenFailure()
{
    WriteTokenFile(ScrambleText(QStringLiteral("kept")).toLatin1());
    QVERIFY(auth->LoadToken());
    // A directory in the token file's place cannot be removed as a file.
    QVERIFY(QFile::remove(TokenFile()));
    QVERIFY(QDir().mkpath(TokenFile() + QStringLiteral("/inner")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Error on deleting User Token: .+")));
    QVERIFY(!auth->DeleteToken());
    QCOMPARE(auth->userData().token, QStringLiteral("kept"));
    QVERIFY(QFileInfo(TokenFile()).isDir());
}

void tst_TovraAuthManager::traffic_data()
{
    QTest::addColumn<bool>("ok");
    QTest::addColumn<quint64>("total");
    QTest::addColumn<quint64>("used");
    QTest::addColumn<quint64>("storedTotal");
    QTest::addColumn<quint64>("storedUsed");
    const quint64 gb = 1000ull * 1000 * 1000;
    QTest::newRow("used below total") << true << 10 * gb << 3 * gb << 10 * gb << 3 * gb;
    QTest::newRow("used above total") << true << 10 * gb << 12 * gb << 10 * gb << 10 * gb;
    QTest::newRow("failed refresh keeps old values") << false << 0ull << 0ull << 5 * gb << 1 * gb;
}

void tst_TovraAuthManager::traffic()
{
    QFETCH(bool, ok);
    QFETCH(quint64, total);
    QFETCH(quint64, used);
    QFETCH(quint64, storedTotal);
    QFETCH(quint64, storedUsed);
    const quint64 gb = 1000ull * 1000 * 1000;
    auth->OnTrafficUpdated(true, 5 * gb, 1 * gb, false);
    QSignalSpy updated(auth, &TovraAuthManager::UserTrafficUpdated);
    auth->OnTrafficUpdated(ok, total, used, ok);
    QCOMPARE(updated.count(), 1);
    QCOMPARE(updated.at(0).at(0).toBool(), ok);
    QCOMPARE(auth->userData().bytesTotal, storedTotal);
    QCOMPARE(auth->userData().bytesUsed, storedUsed);
    QCOMPARE(auth->userData().isUnlimited, ok);
}

void tst_TovraAuthManager::userDataResults()
{
    TovraUserData data;
    data.email = QStringLiteral("a@b.test");
    data.firstName = QStringLiteral("Ann");
    data.status = QStringLiteral("PENDING");
    data.isTrial = true;
    data.isAnnual = true;
    data.bytesTotal = 100;
    data.bytesUsed = 150;

    // Inactive: token file gone, plan fields kept, names empty.
    WriteTokenFile(ScrambleText(QStringLiteral("t")).toLatin1());
    QVERIFY(auth->LoadToken());
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    auth->OnUserDataChecked(TovraAuthManager::AuthAccountInactive, data);
    QVERIFY(!QFile::exists(TokenFile()));
    QCOMPARE(auth->userData().status, QStringLiteral("PENDING"));
    QVERIFY(auth->userData().isTrial && auth->userData().isAnnual && !auth->userData().isUnlimited);
    QVERIFY(auth->userData().email.isEmpty() && auth->userData().firstName.isEmpty());
    QVERIFY(auth->userData().token.isEmpty());

    // Success: everything but the token is copied, used clamped to total.
    WriteTokenFile(ScrambleText(QStringLiteral("t2")).toLatin1());
    QVERIFY(auth->LoadToken());
    data.status = QStringLiteral("ACTIVE");
    auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, data);
    QCOMPARE(auth->userData().token, QStringLiteral("t2"));
    QCOMPARE(auth->userData().email, data.email);
    QCOMPARE(auth->userData().firstName, data.firstName);
    QCOMPARE(auth->userData().bytesUsed, quint64(100));
    QVERIFY(QFile::exists(TokenFile()));

    // Refused token: deleted.
    auth->OnUserDataChecked(TovraAuthManager::AuthFailed, data);
    QVERIFY(!QFile::exists(TokenFile()));
    QVERIFY(auth->userData().email.isEmpty());

    QCOMPARE(received.count(), 3);
    QCOMPARE(received.at(0).at(0).value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthAccountInactive);
    QCOMPARE(received.at(1).at(0).value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthSuccess);
    QCOMPARE(received.at(2).at(0).value<TovraAuthManager::eAuthResults>(), TovraAuthManager::AuthFailed);
}

void tst_TovraAuthManager::credentialResults_data()
{
    QTest::addColumn<TovraAuthManager::eAuthResults>("result");
    QTest::addColumn<QString>("log");
    QTest::newRow("failed") << TovraAuthManager::AuthFailed << "User credentials are incorrect";
    QTest::newRow("blacklisted") << TovraAuthManager::AuthIpBlacklisted << "User's IP is in blacklist";
}

void tst_TovraAuthManager::credentialResults()
{
    QFETCH(TovraAuthManager::eAuthResults, result);
    QFETCH(QString, log);
    WriteTokenFile(ScrambleText(QStringLiteral("t")).toLatin1());
    QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
    QTest::ignoreMessage(QtDebugMsg, qPrintable(log));
    auth->OnCredentialsChecked(result, QString());
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).value<TovraAuthManager::eAuthResults>(), result);
    // A refused sign-in leaves an earlier token file alone.
    QVERIFY(QFile::exists(TokenFile()));
}

QTEST_MAIN(tst_TovraAuthManager)
#include "tst_tovraauthmanager.moc"
