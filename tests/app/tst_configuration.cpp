#include <QtTest>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

#include "app/configuration.h"
#include "logcapture.h"

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every field the settings file stores, as one comparable text.
QString settingsSummary(const Configuration &c)
{
    return QStringLiteral("proto=%1 login=%2 smart=%3 b2b=%4 last=%5 fav=%6 launch=%7 tray=%8 remind=%9 auto=%10 "
                          "favc=%11 near=%12 kill=%13 dns=%14")
        .arg(c.protocol)
        .arg(c.loginMethod)
        .arg(c.smartServerList)
        .arg(c.b2bServerList)
        .arg(c.lastUsedServer, c.favoriteServer)
        .arg(c.autoLaunch)
        .arg(c.minimizeToTray)
        .arg(c.remindAboutConnection)
        .arg(c.autoConnect)
        .arg(c.connectToFavorite)
        .arg(c.connectToNearest)
        .arg(c.killSwitch)
        .arg(c.dnsLeakFix);
}

const char defaultsSummary[] = "proto=0 login=0 smart=1 b2b=1 last= fav= launch=0 tray=1 remind=1 auto=0 favc=0 near=0 "
                               "kill=0 dns=0";

} // namespace

class tst_Configuration : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void readSettings_data();
    void readSettings();
    void unreadableSettingsKeepRecord_data();
    void unreadableSettingsKeepRecord();
    void writeSettingsExactBytes();
    void facebookLoginMigratesOnSave();
    void failedSaveKeepsOldFile();

    void readPopup_data();
    void readPopup();
    void popupRoundTrip();

    void interval_data();
    void interval();
    void welcome_data();
    void welcome();
    void locale();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void tst_Configuration::init()
{
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("file-%1").arg(QTest::currentTestFunction()));
    QFile::remove(m_path);
}

void tst_Configuration::readSettings_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<QString>("expected");

    QTest::newRow("root only gives defaults") << QByteArray("<Settings/>") << QString::fromLatin1(defaultsSummary);
    QTest::newRow("root element of another name is read")
        << QByteArray("<Other><KillSwitch enabled=\"1\"/></Other>")
        << QStringLiteral("proto=0 login=0 smart=1 b2b=1 last= fav= launch=0 tray=1 remind=1 auto=0 favc=0 near=0 "
                          "kill=1 dns=0");
    QTest::newRow("tray off without reminder element turns reminder off")
        << QByteArray("<Settings><MinimizeToTray enabled=\"0\"/></Settings>")
        << QStringLiteral("proto=0 login=0 smart=1 b2b=1 last= fav= launch=0 tray=0 remind=0 auto=0 favc=0 near=0 "
                          "kill=0 dns=0");
    QTest::newRow("smart list without attribute is on, true is off")
        << QByteArray("<Settings><SmartServerList/><B2bServerList enabled=\"true\"/></Settings>")
        << QStringLiteral("proto=0 login=0 smart=1 b2b=0 last= fav= launch=0 tray=1 remind=1 auto=0 favc=0 near=0 "
                          "kill=0 dns=0");
    QTest::newRow("lower-case protocol, servers, every flag on")
        << QByteArray("<Settings><Connection type=\"ikev2\"/><Servers lastUsed=\"de1\" favorite=\"nl2\"/>"
                      "<AutoLaunch enabled=\"1\"/><AutoConnect enabled=\"1\"/><FavoriteServer enabled=\"1\"/>"
                      "<NearestServer enabled=\"1\"/><KillSwitch enabled=\"1\"/><DnsLeakFix enabled=\"1\"/>"
                      "<LoginMethod type=\"google\"/></Settings>")
        << QStringLiteral("proto=2 login=2 smart=1 b2b=1 last=de1 fav=nl2 launch=1 tray=1 remind=1 auto=1 favc=1 "
                          "near=1 kill=1 dns=1");
    QTest::newRow("unknown protocol reads as automatic")
        << QByteArray("<Settings><Connection type=\"SSTP\"/></Settings>") << QString::fromLatin1(defaultsSummary);
    QTest::newRow("connection without type is automatic")
        << QByteArray("<Settings><Connection/></Settings>") << QString::fromLatin1(defaultsSummary);
    QTest::newRow("facebook login element")
        << QByteArray("<Settings><FacebookLogin enabled=\"1\"/></Settings>")
        << QStringLiteral("proto=0 login=1 smart=1 b2b=1 last= fav= launch=0 tray=1 remind=1 auto=0 favc=0 near=0 "
                          "kill=0 dns=0");
    QTest::newRow("login method wins over facebook element")
        << QByteArray("<Settings><FacebookLogin enabled=\"1\"/><LoginMethod type=\"EMAIL\"/></Settings>")
        << QString::fromLatin1(defaultsSummary);
    QTest::newRow("servers without attributes are empty")
        << QByteArray("<Settings><Servers/></Settings>") << QString::fromLatin1(defaultsSummary);
}

void tst_Configuration::readSettings()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, expected);
    writeFile(m_path, xml);
    Configuration config;
    // Values an earlier read left behind must not survive where the file has no say.
    config.loginMethod = LoginGoogle;
    config.killSwitch = true;
    config.lastUsedServer = QStringLiteral("kept");
    config.favoriteServer = QStringLiteral("kept");
    config.protocol = PPTP;
    const bool hasServers = xml.contains("<Servers");
    const bool hasConnection = xml.contains("<Connection");
    config.ReadSettingsFile(m_path);
    if (!hasServers) {
        QCOMPARE(config.lastUsedServer, QStringLiteral("kept"));
        config.lastUsedServer.clear();
        config.favoriteServer.clear();
    }
    if (!hasConnection) {
        QCOMPARE(config.protocol, PPTP);
        config.protocol = Automatic;
    }
    QCOMPARE(settingsSummary(config), expected);
}

void tst_Configuration::unreadableSettingsKeepRecord_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("missing file") << QByteArray() << false << QStringLiteral("Can't open settings file.");
    QTest::newRow("malformed xml") << QByteArray("<Settings><KillSwitch enabled=\"0\">") << true
                                   << QStringLiteral("Error occurs when trying to read settings: ");
}

void tst_Configuration::unreadableSettingsKeepRecord()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, exists);
    QFETCH(QString, logLine);
    if (exists)
        writeFile(m_path, xml);
    Configuration config;
    config.killSwitch = true;
    config.smartServerList = false;
    LogCapture log;
    config.ReadSettingsFile(m_path);
    QVERIFY(config.killSwitch);
    QVERIFY(!config.smartServerList);
    QVERIFY2(log.anyContains(logLine), qPrintable(log.lines().join(QLatin1Char('\n'))));
    if (exists) {
        const QString line = log.lines().constFirst();
        QVERIFY2(line.contains(QLatin1String("Line:")) && line.contains(QLatin1String("Column:")), qPrintable(line));
    }
}

void tst_Configuration::writeSettingsExactBytes()
{
    Configuration config;
    config.protocol = PPTP;
    config.loginMethod = LoginGoogle;
    config.b2bServerList = false;
    config.lastUsedServer = QStringLiteral("Germany");
    config.favoriteServer = QStringLiteral("nl-12");
    config.killSwitch = true;
    QVERIFY(config.WriteSettingsFile(m_path));
    const QByteArray expected = "<Settings>\n"
                                "    <Connection type=\"PPtP\"/>\n"
                                "    <SmartServerList enabled=\"1\"/>\n"
                                "    <B2bServerList enabled=\"0\"/>\n"
                                "    <Servers lastUsed=\"Germany\" favorite=\"nl-12\"/>\n"
                                "    <AutoLaunch enabled=\"0\"/>\n"
                                "    <MinimizeToTray enabled=\"1\"/>\n"
                                "    <RemindAboutConnection enabled=\"1\"/>\n"
                                "    <AutoConnect enabled=\"0\"/>\n"
                                "    <FavoriteServer enabled=\"0\"/>\n"
                                "    <NearestServer enabled=\"0\"/>\n"
                                "    <KillSwitch enabled=\"1\"/>\n"
                                "    <DnsLeakFix enabled=\"0\"/>\n"
                                "    <LoginMethod type=\"GOOGLE\"/>\n"
                                "</Settings>\n";
    QCOMPARE(readFile(m_path), expected);

    Configuration back;
    back.ReadSettingsFile(m_path);
    QCOMPARE(settingsSummary(back), settingsSummary(config));
}

void tst_Configuration::facebookLoginMigratesOnSave()
{
    writeFile(m_path, "<Settings><FacebookLogin enabled=\"1\"/><Connection type=\"ikev2\"/></Settings>");
    Configuration config;
    config.ReadSettingsFile(m_path);
    QVERIFY(config.WriteSettingsFile(m_path));
    const QByteArray bytes = readFile(m_path);
    QVERIFY(bytes.contains("<LoginMethod type=\"FACEBOOK\"/>"));
    QVERIFY(bytes.contains("<Connection type=\"IKEv2\"/>"));
    QVERIFY(!bytes.contains("FacebookLogin"));
}

void tst_Configuration::failedSaveKeepsOldFile()
{
#ifndef Q_OS_UNIX
    QSKIP("needs a file-size limit to make the write fail");
#else
    const QByteArray old = "<Settings>\n    <KillSwitch enabled=\"1\"/>\n</Settings>\n";
    writeFile(m_path, old);
    Configuration config;
    config.lastUsedServer = QString(400, QLatin1Char('x'));

    // Writes past 256 bytes fail as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = 256;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    LogCapture log;
    const bool written = config.WriteSettingsFile(m_path);
    setrlimit(RLIMIT_FSIZE, &saved);

    QVERIFY(!written);
    QVERIFY(log.contains(QStringLiteral("Can't save settings to file")));
    QCOMPARE(readFile(m_path), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).filter(QStringLiteral("failedSaveKeepsOldFile")).size(), 1);
#endif
}

void tst_Configuration::readPopup_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("review");
    QTest::addColumn<QString>("invite");
    QTest::addColumn<QStringList>("logLines");

    const QString reviewDefaults = QStringLiteral("0 0 ");
    QTest::newRow("missing file")
        << QByteArray() << false << reviewDefaults << reviewDefaults
        << QStringList{QStringLiteral("Can't open popup settings file. Popup variables set to default values."),
                       QStringLiteral("Review popup variables: isAlreadyShown: false Connection "
                                      "count: 0 App version:  \"\""),
                       QStringLiteral("Invite popup variables: isAlreadyShown: false Connection "
                                      "count: 0 App version:  \"\"")};
    QTest::newRow("malformed") << QByteArray("<Settings><ReviewPopup") << true << reviewDefaults << reviewDefaults
                               << QStringList{QStringLiteral("Popup variables set to default values.")};
    QTest::newRow("both present")
        << QByteArray("<Settings><ReviewPopup isAlreadyShown=\"1\" connectionCount=\"7\" appVersion=\"4.1.5.71\"/>"
                      "<InvitePopup isAlreadyShown=\"0\" connectionCount=\"3\" appVersion=\"4.1.4.60\"/></Settings>")
        << true << QStringLiteral("1 7 4.1.5.71") << QStringLiteral("0 3 4.1.4.60")
        << QStringList{QStringLiteral("Review popup variables: isAlreadyShown: true Connection count: 7 App "
                                      "version:  \"4.1.5.71\"")};
    QTest::newRow("invite missing, count not a number")
        << QByteArray("<Settings><ReviewPopup isAlreadyShown=\"true\" connectionCount=\"abc\"/></Settings>") << true
        << reviewDefaults << reviewDefaults
        << QStringList{QStringLiteral("Invite popup xml element not found, invite variables set to default values.")};
    QTest::newRow("review missing")
        << QByteArray("<Settings><InvitePopup isAlreadyShown=\"1\"/></Settings>") << true << reviewDefaults
        << QStringLiteral("1 0 ")
        << QStringList{QStringLiteral("Review popup xml element not found, review variables set to default values.")};
}

void tst_Configuration::readPopup()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, exists);
    QFETCH(QString, review);
    QFETCH(QString, invite);
    QFETCH(QStringList, logLines);
    if (exists)
        writeFile(m_path, xml);
    Configuration config;
    config.reviewShown = true;
    config.reviewConnectionCount = 99;
    config.reviewAppVersion = QStringLiteral("old");
    config.inviteShown = true;
    config.inviteConnectionCount = 99;
    config.inviteAppVersion = QStringLiteral("old");
    LogCapture log;
    config.ReadPopupFile(m_path);
    QCOMPARE(QStringLiteral("%1 %2 %3")
                 .arg(config.reviewShown)
                 .arg(config.reviewConnectionCount)
                 .arg(config.reviewAppVersion),
             review);
    QCOMPARE(QStringLiteral("%1 %2 %3")
                 .arg(config.inviteShown)
                 .arg(config.inviteConnectionCount)
                 .arg(config.inviteAppVersion),
             invite);
    for (const QString &line : logLines)
        QVERIFY2(log.lines().contains(line), qPrintable(log.lines().join(QLatin1Char('\n'))));
    // The two summary lines always end the read.
    QVERIFY(log.lines().at(log.lines().size() - 2).startsWith(QLatin1String("Review popup variables:")));
    QVERIFY(log.lines().last().startsWith(QLatin1String("Invite popup variables:")));
}

void tst_Configuration::popupRoundTrip()
{
    Configuration config;
    config.reviewShown = true;
    config.reviewConnectionCount = 12;
    config.reviewAppVersion = QStringLiteral("4.1.5.71");
    config.inviteConnectionCount = 5;
    QVERIFY(config.WritePopupFile(m_path));
    QCOMPARE(readFile(m_path),
             QByteArray("<Settings>\n"
                        "    <ReviewPopup isAlreadyShown=\"1\" connectionCount=\"12\" appVersion=\"4.1.5.71\"/>\n"
                        "    <InvitePopup isAlreadyShown=\"0\" connectionCount=\"5\" appVersion=\"\"/>\n"
                        "</Settings>\n"));
    Configuration back;
    back.ReadPopupFile(m_path);
    QVERIFY(back.reviewShown);
    QCOMPARE(back.reviewConnectionCount, 12);
    QCOMPARE(back.inviteConnectionCount, 5);
    QVERIFY(!back.inviteShown);
}

void tst_Configuration::interval_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("seconds");
    QTest::newRow("missing") << QByteArray() << false << 15;
    QTest::newRow("600") << QByteArray("600") << true << 600;
    QTest::newRow("601") << QByteArray("601") << true << 15;
    QTest::newRow("1 with blanks and line end") << QByteArray("  1 \n20\n") << true << 1;
    QTest::newRow("0") << QByteArray("0") << true << 15;
    QTest::newRow("negative") << QByteArray("-5") << true << 15;
    QTest::newRow("abc") << QByteArray("abc") << true << 15;
    QTest::newRow("empty") << QByteArray("") << true << 15;
}

void tst_Configuration::interval()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(int, seconds);
    if (exists)
        writeFile(m_path, content);
    LogCapture log;
    QCOMPARE(ReadNetworkWaitInterval(m_path), seconds);
    const QString line = QStringLiteral("Custom interval found, waiting time set to %1 seconds.").arg(seconds);
    QCOMPARE(log.contains(line), seconds != 15);
}

void tst_Configuration::welcome_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<bool>("shown");
    QTest::newRow("missing") << QByteArray() << false << false;
    QTest::newRow("false") << QByteArray("false") << true << true;
    QTest::newRow("false between blanks with line end") << QByteArray("  false \nmore") << true << true;
    QTest::newRow("capital F") << QByteArray("False") << true << false;
    QTest::newRow("true") << QByteArray("true") << true << false;
    QTest::newRow("empty") << QByteArray() << true << false;
}

void tst_Configuration::welcome()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(bool, shown);
    if (exists)
        writeFile(m_path, content);
    QCOMPARE(IsWelcomeGuideAlreadyShown(m_path), shown);
}

void tst_Configuration::locale()
{
    QCOMPARE(ReadLocaleCode(m_path), QStringLiteral("en"));
    writeFile(m_path, "de\nnl");
    QCOMPARE(ReadLocaleCode(m_path), QStringLiteral("de"));
    writeFile(m_path, " nl ");
    QCOMPARE(ReadLocaleCode(m_path), QStringLiteral(" nl "));
}

QTEST_GUILESS_MAIN(tst_Configuration)
#include "tst_configuration.moc"
