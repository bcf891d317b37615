#include <QTcpServer>
#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/scramble.h"

#include <sys/stat.h>
#include <unistd.h>

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
    void tokenFileOwnerOnly_data();
    void tokenFileOwnerOnly();
    void deleteToken();
    void userDataResults();

private:
    QString tokenFile() const { return AppContext::instance()->dataPaths()->tokenFile(); }
    void writeTokenFile(const QByteArray &content)
    {
        QFile file(tokenFile());
        QVERIFY(EnsureParentDir(tokenFile()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    // A token file for token, loaded into the session.
    void storeToken(const QString &token)
    {
        writeTokenFile(ScrambleText(token).toLatin1());
        QVERIFY(m_auth->LoadToken());
    }

    TovraAuthManager *m_auth = AppContext::instance()->authManager();
    QTemporaryDir m_dir;
};

void tst_TovraAuthManager::initTestCase()
{
    QVERIFY(m_dir.isValid());
    AppContext::instance()->dataPaths()->setDir(m_dir.path());
    // Requests started by the session go to a closed loopback port and fail at once.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    AppContext::instance()->apiManager()->setApiBaseUrl(
        QStringLiteral("https://127.0.0.1:%1").arg(closed.serverPort()));
}

void tst_TovraAuthManager::init()
{
    QDir(m_dir.path() + QStringLiteral("/Data")).removeRecursively();
    m_auth->DeleteToken();
}

void tst_TovraAuthManager::loadToken_data()
{
    QTest::addColumn<bool>("create");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("token"); // empty: nothing loaded
    const auto scrambled = [](const char *token) { return ScrambleText(QString::fromLatin1(token)).toLatin1(); };
    QTest::newRow("blanks and a line break around it") << true << "  \t" + scrambled("8f14e45f.ce") + "  \r\n"
                                                       << "8f14e45f.ce";
    QTest::newRow("second line ignored") << true << scrambled("first") + "\nXXXXc2Vjb25kYYYY\n"
                                         << "first";
    QTest::newRow("missing file") << false << QByteArray() << QString();
    QTest::newRow("empty file") << true << QByteArray() << QString();
    QTest::newRow("not scrambled") << true << QByteArray("short") << QString();
    QTest::newRow("line beyond 4096 bytes") << true << scrambled(QByteArray(3100, 't').constData()) << QString();
}

void tst_TovraAuthManager::loadToken()
{
    QFETCH(bool, create);
    QFETCH(QByteArray, content);
    QFETCH(QString, token);
    // A record from an earlier session is replaced, or cleared when nothing loads.
    storeToken(QStringLiteral("old"));
    QFile::remove(tokenFile());
    if (create)
        writeTokenFile(content);
    QCOMPARE(m_auth->LoadToken(), !token.isEmpty());
    QCOMPARE(m_auth->userData().token, token);
}

void tst_TovraAuthManager::saveTokenOverwrites()
{
    TovraApiManager *api = AppContext::instance()->apiManager();
    for (const QString &token : {QStringLiteral("first-token-which-is-long"), QStringLiteral("second")}) {
        QSignalSpy received(m_auth, &TovraAuthManager::UserDataReceived);
        QSignalSpy errors(api, &TovraApiManager::ApiErrorOccurred);
        QTest::ignoreMessage(QtDebugMsg, "User credentials checked. Getting user data");
        m_auth->OnCredentialsChecked(TovraAuthManager::AuthSuccess, token);
        QFile file(tokenFile());
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
        QCOMPARE(m_auth->userData().token, token);
    }
}

void tst_TovraAuthManager::tokenFileOwnerOnly_data()
{
    QTest::addColumn<QString>("planted"); // what stands at the token file's path before the token is saved
    QTest::newRow("an earlier file open to all is made owner-only") << "file";
    QTest::newRow("a symbolic link is not followed") << "symlink";
    QTest::newRow("a second name of another file is not written") << "hardlink";
}

void tst_TovraAuthManager::tokenFileOwnerOnly()
{
    QFETCH(QString, planted);
    const QString other = m_dir.filePath(QStringLiteral("other"));
    QFile::remove(other);
    QFile otherFile(other);
    QVERIFY(otherFile.open(QIODevice::WriteOnly) && otherFile.write("untouched") == 9);
    otherFile.close();
    writeTokenFile("old");
    if (planted != "file") {
        QVERIFY(QFile::remove(tokenFile()));
        QVERIFY(planted == "symlink" ? QFile::link(other, tokenFile())
                                     : ::link(QFile::encodeName(other), QFile::encodeName(tokenFile())) == 0);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Can't save user token: .+")));
    }
    QSignalSpy errors(AppContext::instance()->apiManager(), &TovraApiManager::ApiErrorOccurred);
    QTest::ignoreMessage(QtDebugMsg, "User credentials checked. Getting user data");

    m_auth->OnCredentialsChecked(TovraAuthManager::AuthSuccess, QStringLiteral("owner-only-token"));

    QVERIFY(errors.wait(10000));
    QVERIFY(otherFile.open(QIODevice::ReadOnly));
    QCOMPARE(otherFile.readAll(), QByteArray("untouched"));
    if (planted == "file") {
        struct stat info
        {
        };
        QCOMPARE(::stat(QFile::encodeName(tokenFile()), &info), 0);
        QCOMPARE(info.st_mode & 0777, 0600u);
        QFile file(tokenFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(UnscrambleText(QString::fromLatin1(file.readAll())), QStringLiteral("owner-only-token"));
    }
}

void tst_TovraAuthManager::deleteToken()
{
    storeToken(QStringLiteral("t"));
    QTest::ignoreMessage(QtDebugMsg, "User token was deleted.");
    QVERIFY(m_auth->DeleteToken());
    QVERIFY(!QFile::exists(tokenFile()));
    QVERIFY(m_auth->userData().token.isEmpty());
    // Nothing left to delete still ends the session.
    QVERIFY(m_auth->DeleteToken());
    // A directory in the token file's place cannot be removed as a file: the session stays.
    storeToken(QStringLiteral("kept"));
    QVERIFY(QFile::remove(tokenFile()));
    QVERIFY(QDir().mkpath(tokenFile() + QStringLiteral("/inner")));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^Error on deleting User Token: .+")));
    QVERIFY(!m_auth->DeleteToken());
    QCOMPARE(m_auth->userData().token, QStringLiteral("kept"));
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
    const TovraUserData &user = m_auth->userData();
    // Inactive: plan fields kept, names and token gone.
    storeToken(QStringLiteral("t"));
    m_auth->OnUserDataChecked(TovraAuthManager::AuthAccountInactive, data);
    QVERIFY(user.isTrial && !user.isUnlimited);
    QVERIFY(user.email.isEmpty() && user.firstName.isEmpty() && user.token.isEmpty());
    // Success: everything but the token is copied, used clamped to total.
    storeToken(QStringLiteral("t2"));
    m_auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, data);
    QCOMPARE(QStringList({user.token, user.email, user.firstName}), QStringList({"t2", data.email, data.firstName}));
    QCOMPARE(user.bytesUsed, quint64(100));
}

QTEST_MAIN(tst_TovraAuthManager)
#include "tst_tovraauthmanager.moc"
