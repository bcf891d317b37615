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
    void saveTokenOverwrites();
    void deleteToken();
    void userDataResults();

private:
    QString TokenFile() const { return AppContext::instance()->dataPaths()->tokenFile(); }
    void WriteTokenFile(const QByteArray &content);
    void StoreToken(const QString &token);

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

// A token file for token, loaded into the session.
void tst_TovraAuthManager::StoreToken(const QString &token)
{
    WriteTokenFile(ScrambleText(token).toLatin1());
    QVERIFY(auth->LoadToken());
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
    QTest::addColumn<bool>("create");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("token"); // empty: nothing loaded
    const auto scrambled = [](const char *token) { return ScrambleText(QString::fromLatin1(token)).toLatin1(); };
    QTest::newRow("plain") << true << scrambled("8f14e45fceea167a5a36dedd4bea2543")
                           << "8f14e45fceea167a5a36dedd4bea2543";
    QTest::newRow("trailing line feed") << true << scrambled("abc.def") + "\n"
                                        << "abc.def";
    QTest::newRow("trailing CR LF") << true << scrambled("abc.def") + "\r\n"
                                    << "abc.def";
    QTest::newRow("surrounding blanks") << true << "  \t" + scrambled("tok") + "  "
                                        << "tok";
    QTest::newRow("second line ignored") << true << scrambled("first") + "\nXXXXc2Vjb25kYYYY\n"
                                         << "first";
    QTest::newRow("missing file") << false << QByteArray() << QString();
    QTest::newRow("empty file") << true << QByteArray() << QString();
    QTest::newRow("not scrambled") << true << QByteArray("short") << QString();
    QTest::newRow("blank line") << true << QByteArray("   \n") << QString();
}

void tst_TovraAuthManager::loadToken()
{
    QFETCH(bool, create);
    QFETCH(QByteArray, content);
    QFETCH(QString, token);
    // A record from an earlier session is replaced, or cleared when nothing loads.
    StoreToken(QStringLiteral("old"));
    QFile::remove(TokenFile());
    if (create)
        WriteTokenFile(content);
    QCOMPARE(auth->LoadToken(), !token.isEmpty());
    QCOMPARE(auth->userData().token, token);
}

void tst_TovraAuthManager::saveTokenOverwrites()
{
    TovraApiManager *api = AppContext::instance()->apiManager();
    for (const QString &token : {QStringLiteral("first-token-which-is-long"), QStringLiteral("second")}) {
        QSignalSpy received(auth, &TovraAuthManager::UserDataReceived);
        QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
        QTest::ignoreMessage(QtDebugMsg, "User credentials checked. Getting user data");
        auth->OnCredentialsChecked(TovraAuthManager::AuthSuccess, token);
        QFile file(TokenFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray content = file.readAll();
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
    StoreToken(QStringLiteral("t"));
    QTest::ignoreMessage(QtDebugMsg, "User token was deleted.");
    QVERIFY(auth->DeleteToken());
    QVERIFY(!QFile::exists(TokenFile()));
    QVERIFY(auth->userData().token.isEmpty());
    // Nothing left to delete still ends the session.
    QVERIFY(auth->DeleteToken());

    // A directory in the token file's place cannot be removed as a file: the session stays.
    StoreToken(QStringLiteral("kept"));
    QVERIFY(QFile::remove(TokenFile()));
    QVERIFY(QDir().mkpath(TokenFile() + QStringLiteral("/inner")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Error on deleting User Token: .+")));
    QVERIFY(!auth->DeleteToken());
    QCOMPARE(auth->userData().token, QStringLiteral("kept"));
    QVERIFY(QFileInfo(TokenFile()).isDir());
}

// The token file for refused and inactive sessions is covered with the requests in tst_tovraapimanager.
void tst_TovraAuthManager::userDataResults()
{
    TovraUserData data;
    data.email = QStringLiteral("a@b.test");
    data.firstName = QStringLiteral("Ann");
    data.isTrial = true;
    data.bytesTotal = 100;
    data.bytesUsed = 150;
    const TovraUserData &user = auth->userData();

    // Inactive: plan fields kept, names and token gone.
    StoreToken(QStringLiteral("t"));
    auth->OnUserDataChecked(TovraAuthManager::AuthAccountInactive, data);
    QVERIFY(user.isTrial && !user.isUnlimited);
    QVERIFY(user.email.isEmpty() && user.firstName.isEmpty() && user.token.isEmpty());

    // Success: everything but the token is copied, used clamped to total.
    StoreToken(QStringLiteral("t2"));
    auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, data);
    QCOMPARE(user.token, QStringLiteral("t2"));
    QCOMPARE(user.email, data.email);
    QCOMPARE(user.firstName, data.firstName);
    QCOMPARE(user.bytesUsed, quint64(100));
}

QTEST_MAIN(tst_TovraAuthManager)
#include "tst_tovraauthmanager.moc"
