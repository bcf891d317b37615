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

// Both popup records: shown, count and version of the review, then of the invite.
QString popupSummary(const Configuration &c)
{
    return QString::asprintf("%d %d %s %d %d %s", c.reviewShown, c.reviewConnectionCount,
                             qPrintable(c.reviewAppVersion), c.inviteShown, c.inviteConnectionCount,
                             qPrintable(c.inviteAppVersion));
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
    back.ReadPopupFile(m_path);
    QCOMPARE(popupSummary(back), QStringLiteral("1 12 4.1.5.71 0 5 "));
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

// A missing or malformed file or element gives defaults; "true" is not shown, a count not a number is 0.
void tst_Configuration::readPopup_data()
{
    QTest::addColumn<QByteArray>("xml"); // null: no file
    QTest::addColumn<QString>("popups");
    QTest::newRow("missing file") << QByteArray() << "0 0  0 0 ";
    QTest::newRow("malformed") << QByteArray("<Settings><ReviewPopup") << "0 0  0 0 ";
    QTest::newRow("review missing")
        << QByteArray(
               "<Settings><InvitePopup isAlreadyShown=\"true\" connectionCount=\"abc\" appVersion=\"4\"/></Settings>")
        << "0 0  0 0 4";
    QTest::newRow("invite missing") << QByteArray("<Settings><ReviewPopup isAlreadyShown=\"1\"/></Settings>")
                                    << "1 0  0 0 ";
}

void tst_Configuration::readPopup()
{
    QFETCH(QByteArray, xml);
    putFile(m_path, xml);
    Configuration config;
    config.reviewShown = config.inviteShown = true;
    config.reviewConnectionCount = config.inviteConnectionCount = 99;
    config.reviewAppVersion = config.inviteAppVersion = QStringLiteral("old");
    config.ReadPopupFile(m_path);
    QTEST(popupSummary(config), "popups");
}

// The one-line files: the network wait interval, the welcome guide flag and the locale code.
void tst_Configuration::textFiles()
{
    const QList<QPair<QByteArray, int>> intervals{{QByteArray(), 15}, {"600", 600}, {"601", 15},
                                                  {"  1 \n20\n", 1},  {"0", 15},    {"abc", 15}};
    for (const auto &[content, seconds] : intervals) {
        putFile(m_path, content);
        QCOMPARE(ReadNetworkWaitInterval(m_path), seconds);
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
    QCOMPARE(ReadLocaleCode(m_path), QStringLiteral("en"));
}

QTEST_GUILESS_MAIN(tst_Configuration)
#include "tst_configuration.moc"
