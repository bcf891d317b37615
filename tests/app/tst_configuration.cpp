#include <QtTest>

#include <csignal>
#include <sys/resource.h>

#include "app/configuration.h"
#include "logcapture.h"
#include "testfiles.h"

namespace {

// Replaces the file at path with bytes; null bytes leave no file.
void putFile(const QString &path, const QByteArray &bytes)
{
    QFile::remove(path);
    QVERIFY(bytes.isNull() || writeFile(path, bytes));
}

// Every field the settings file stores, as one comparable text.
QString settingsSummary(const Configuration &c)
{
    return QString::asprintf("proto=%d login=%d smart=%d b2b=%d last=%s fav=%s launch=%d tray=%d remind=%d auto=%d "
                             "favc=%d near=%d kill=%d dns=%d",
                             c.protocol, c.loginMethod, c.smartServerList, c.b2bServerList,
                             qPrintable(c.lastUsedServer), qPrintable(c.favoriteServer), c.autoLaunch, c.minimizeToTray,
                             c.remindAboutConnection, c.autoConnect, c.connectToFavorite, c.connectToNearest,
                             c.killSwitch, c.dnsLeakFix);
}

// The summary of a default record with the given "key=value" items changed.
QString defaultsWith(const QString &changes)
{
    QStringList items = settingsSummary(Configuration()).split(QLatin1Char(' '));
    for (const QString &change : changes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = change.section(QLatin1Char('='), 0, 0) + QLatin1Char('=');
        for (QString &item : items)
            item = item.startsWith(key) ? change : item;
    }
    return items.join(QLatin1Char(' '));
}

} // namespace

class tst_Configuration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readSettings_data();
    void readSettings();
    void writeFiles();
    void failedSaveKeepsOldFile();
    void readPopup_data();
    void readPopup();
    void textFiles();

private:
    QTemporaryDir m_dir;
    QString m_path;
};

void tst_Configuration::init()
{
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("file-%1").arg(QTest::currentTestFunction()));
}

void tst_Configuration::readSettings_data()
{
    QTest::addColumn<QByteArray>("xml");     // null: no file
    QTest::addColumn<QString>("changes");    // from the defaults
    QTest::addColumn<QString>("logPattern"); // of the one log line, if any
    const auto row = [](const char *name, const char *xml, const char *changes, const char *log = "") {
        QTest::newRow(name) << QByteArray(xml) << QString::fromLatin1(changes) << QString::fromLatin1(log);
    };
    row("root only gives defaults", "<Settings/>", "");
    row("root of another name is read", "<Other><KillSwitch enabled=\"1\"/></Other>", "kill=1");
    row("tray off without reminder element turns reminder off", "<Settings><MinimizeToTray enabled=\"0\"/></Settings>",
        "tray=0 remind=0");
    row("attribute missing: its default; true: off",
        "<Settings><SmartServerList/><B2bServerList enabled=\"true\"/><Connection/></Settings>", "b2b=0");
    row("lower-case protocol, servers, every flag on",
        "<Settings><Connection type=\"ikev2\"/><Servers lastUsed=\"de1\" favorite=\"nl2\"/><AutoLaunch enabled=\"1\"/>"
        "<AutoConnect enabled=\"1\"/><FavoriteServer enabled=\"1\"/><NearestServer enabled=\"1\"/>"
        "<KillSwitch enabled=\"1\"/><DnsLeakFix enabled=\"1\"/><LoginMethod type=\"google\"/></Settings>",
        "proto=2 login=2 last=de1 fav=nl2 launch=1 auto=1 favc=1 near=1 kill=1 dns=1");
    row("facebook login element", "<Settings><FacebookLogin enabled=\"1\"/></Settings>", "login=1");
    row("login method wins over facebook element",
        "<Settings><FacebookLogin enabled=\"1\"/><LoginMethod type=\"EMAIL\"/></Settings>", "");
    // An unreadable file leaves the whole record as it was.
    row("missing file", nullptr, "login=2 kill=1", "^Can't open settings file\\.$");
    row("malformed xml", "<Settings><KillSwitch enabled=\"0\">", "login=2 kill=1",
        "^Error occurs when trying to read settings: \\S.* Line: 1 Column: \\d+$");
}

void tst_Configuration::readSettings()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, changes);
    QFETCH(QString, logPattern);
    putFile(m_path, xml);
    // Values an earlier read left behind survive only where the file has no say.
    Configuration config;
    config.loginMethod = LoginGoogle;
    config.killSwitch = true;
    config.lastUsedServer = QStringLiteral("kept");
    config.protocol = PPTP;
    LogCapture log;
    config.ReadSettingsFile(m_path);
    QCOMPARE(log.lines().size(), logPattern.isEmpty() ? 0 : 1);
    if (!logPattern.isEmpty())
        QVERIFY2(QRegularExpression(logPattern).match(log.lines().constFirst()).hasMatch(), qPrintable(log.dump()));
    if (!xml.contains("<Servers")) {
        QCOMPARE(config.lastUsedServer, QStringLiteral("kept"));
        config.lastUsedServer.clear();
    }
    if (!xml.contains("<Connection")) {
        QCOMPARE(config.protocol, PPTP);
        config.protocol = Automatic;
    }
    QCOMPARE(settingsSummary(config), defaultsWith(changes));
}

// Exact bytes of both XML files, read back into an equal record.
void tst_Configuration::writeFiles()
{
    // An old file's Facebook element and lower-case protocol come back in today's form.
    putFile(m_path, "<Settings><FacebookLogin enabled=\"1\"/><Connection type=\"pptp\"/></Settings>");
    Configuration config;
    config.ReadSettingsFile(m_path);
    config.b2bServerList = false;
    config.lastUsedServer = QStringLiteral("Germany");
    config.favoriteServer = QStringLiteral("nl-12");
    config.killSwitch = true;
    QVERIFY(config.WriteSettingsFile(m_path));
    QCOMPARE(readFile(m_path), QByteArray("<Settings>\n"
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
                                          "    <LoginMethod type=\"FACEBOOK\"/>\n"
                                          "</Settings>\n"));
    Configuration back;
    back.ReadSettingsFile(m_path);
    QCOMPARE(settingsSummary(back), settingsSummary(config));

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
    LogCapture log;
    back.ReadPopupFile(m_path);
    QCOMPARE(log.lines(),
             (QStringList{QStringLiteral("Review popup variables: isAlreadyShown: true Connection count: 12 "
                                         "App version: 4.1.5.71"),
                          QStringLiteral("Invite popup variables: isAlreadyShown: false Connection count: 5 "
                                         "App version: ")}));
}

void tst_Configuration::failedSaveKeepsOldFile()
{
    const QByteArray old = "<Settings>\n    <KillSwitch enabled=\"1\"/>\n</Settings>\n";
    putFile(m_path, old);
    Configuration config;
    config.lastUsedServer = QString(400, QLatin1Char('x'));

    // Writes past 256 bytes fail as on a full disk.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit limit{256, saved.rlim_max};
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
    LogCapture log;
    const bool written = config.WriteSettingsFile(m_path);
    setrlimit(RLIMIT_FSIZE, &saved);

    QVERIFY(!written);
    QVERIFY(log.contains(QStringLiteral("Can't save settings to file")));
    QCOMPARE(readFile(m_path), old);
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files).filter(QStringLiteral("failedSaveKeepsOldFile")).size(), 1);
}

void tst_Configuration::readPopup_data()
{
    QTest::addColumn<QByteArray>("xml"); // null: no file
    QTest::addColumn<QString>("popups"); // review, then invite: shown, count, version
    QTest::addColumn<QString>("logLine");
    const auto row = [](const char *name, const char *xml, const char *popups, const char *log) {
        QTest::newRow(name) << QByteArray(xml) << QString::fromLatin1(popups) << QString::fromLatin1(log);
    };
    row("missing file", nullptr, "0 0  0 0 ", "Can't open popup settings file. Popup variables set to default values.");
    row("malformed", "<Settings><ReviewPopup", "0 0  0 0 ", "Popup variables set to default values.");
    row("review missing; true is not shown, count not a number is 0",
        "<Settings><InvitePopup isAlreadyShown=\"true\" connectionCount=\"abc\" appVersion=\"4\"/></Settings>",
        "0 0  0 0 4", "Review popup xml element not found, review variables set to default values.");
    row("invite missing", "<Settings><ReviewPopup isAlreadyShown=\"1\"/></Settings>", "1 0  0 0 ",
        "Invite popup xml element not found, invite variables set to default values.");
}

void tst_Configuration::readPopup()
{
    QFETCH(QByteArray, xml);
    QFETCH(QString, popups);
    QFETCH(QString, logLine);
    putFile(m_path, xml);
    Configuration config;
    config.reviewShown = config.inviteShown = true;
    config.reviewConnectionCount = config.inviteConnectionCount = 99;
    config.reviewAppVersion = config.inviteAppVersion = QStringLiteral("old");
    LogCapture log;
    config.ReadPopupFile(m_path);
    QCOMPARE(QString::asprintf("%d %d %s %d %d %s", config.reviewShown, config.reviewConnectionCount,
                               qPrintable(config.reviewAppVersion), config.inviteShown, config.inviteConnectionCount,
                               qPrintable(config.inviteAppVersion)),
             popups);
    // The two summary lines always end the read.
    const QStringList lines = log.lines();
    QVERIFY2(lines.size() >= 3 && lines.contains(logLine) &&
                 lines.at(lines.size() - 2).startsWith(QLatin1String("Review popup variables: isAlreadyShown: ")) &&
                 lines.last().startsWith(QLatin1String("Invite popup variables: isAlreadyShown: ")),
             qPrintable(log.dump()));
}

// The one-line files: the network wait interval, the welcome guide flag and the locale code.
void tst_Configuration::textFiles()
{
    LogCapture log;
    const QList<QPair<QByteArray, int>> intervals{{QByteArray(), 15}, {"600", 600}, {"601", 15},
                                                  {"  1 \n20\n", 1},  {"0", 15},    {"abc", 15}};
    for (const auto &[content, seconds] : intervals) {
        putFile(m_path, content);
        log.clear();
        QCOMPARE(ReadNetworkWaitInterval(m_path), seconds);
        QCOMPARE(log.contains(QStringLiteral("Custom interval found, waiting time set to %1 seconds.").arg(seconds)),
                 seconds != 15);
    }

    const QList<QPair<QByteArray, bool>> welcome{{QByteArray(), false}, {"  false \nmore", true}, {"False", false}};
    for (const auto &[content, shown] : welcome) {
        putFile(m_path, content);
        QCOMPARE(IsWelcomeGuideAlreadyShown(m_path), shown);
    }

    putFile(m_path, QByteArray());
    QCOMPARE(ReadLocaleCode(m_path), QStringLiteral("en"));
    putFile(m_path, " nl \nde");
    QCOMPARE(ReadLocaleCode(m_path), QStringLiteral(" nl "));

    // A line without an end is not taken past 1024 characters.
    writeFile(m_path, "30" + QByteArray(1100, ' '));
    QCOMPARE(ReadNetworkWaitInterval(m_path), 15);
    writeFile(m_path, "de" + QByteArray(1100, ' '));
    log.clear();
    QCOMPARE(ReadLocaleCode(m_path), QStringLiteral("en"));
    QVERIFY2(log.dump().contains(QStringLiteral("characters; ignored")), qPrintable(log.dump()));
}

QTEST_GUILESS_MAIN(tst_Configuration)
#include "tst_configuration.moc"
