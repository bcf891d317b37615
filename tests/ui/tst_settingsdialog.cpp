#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTabWidget>
#include <QtTest>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/networkdiagnostics.h"
#include "app/scramble.h"
#include "app/startatlogin.h"
#include "app/startup.h"
#include "standinprovider.h"
#include "testfiles.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovrasettingsdialog.h"

template <typename T = QAbstractButton>
static T *Child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

static QString Text(QWidget *parent, const char *name)
{
    return Child<QLabel>(parent, name)->text();
}

// The stored options as p(rotocol) m(inimise) r(eminder) l(aunch) a(uto-connect) f(avourite) n(earest) s(mart)
// k(ill switch) d(ns).
static QString Options(const Configuration &c)
{
    QString text = QStringLiteral("p%1").arg(c.protocol);
    for (const auto &[letter, value] : {std::pair{'m', c.minimizeToTray},
                                        {'r', c.remindAboutConnection},
                                        {'l', c.autoLaunch},
                                        {'a', c.autoConnect},
                                        {'f', c.connectToFavorite},
                                        {'n', c.connectToNearest},
                                        {'s', c.smartServerList},
                                        {'k', c.killSwitch},
                                        {'d', c.dnsLeakFix}})
        text += QStringLiteral(" %1%2").arg(letter).arg(int(value));
    return text;
}

// Lines "N: scrambled" back to the lines they carry.
static QStringList Unscrambled(const QByteArray &data)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(data).split('\n', Qt::SkipEmptyParts))
        lines << (line.startsWith(QString::number(lines.size()) + ": ") ? UnscrambleText(line.section(": ", 1))
                                                                        : "unnumbered: " + line);
    return lines;
}

class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void saving_data();
    void saving();
    void closing_data();
    void closing();
    void language();
    void banners_data();
    void banners();
    void startAtLogin_data();
    void startAtLogin();
    void ticket_data();
    void ticket();
    void ticketPage();

private:
    QString autostartFile() const { return m_home.path() + "/config/autostart/TOVRA.desktop"; }
    QString tools() const { return m_home.path() + "/bin"; }

    ProviderFixture m_fixture;
    QTemporaryDir m_home;
};

void tst_SettingsDialog::initTestCase()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path() + "/config"));
    QVERIFY2(m_fixture.start(), qPrintable(m_fixture.provider.errorString()));
    DataPaths *paths = AppContext::instance()->dataPaths();
    QVERIFY(QDir().mkpath(paths->dir() + "/language"));
    QVERIFY(QFile::copy(TOVRA_BIN_DIR "/language/language_de.qm", paths->translationFile("de") + ".qm"));
    // Stand-ins for the diagnostics tools: each records its call, waits while its hold file exists, then prints
    // its call as its output.
    for (const char *tool : {"nslookup", "ping", "ip", "resolvectl"})
        QVERIFY(writeFile(tools() + '/' + tool,
                          "#!/bin/sh\nt=\"${0##*/} $*\"\necho \"$t\" >> \"$FAKE_TOOLS/calls\"\n"
                          "while [ -e \"$FAKE_TOOLS/hold-${0##*/}\" ]; do sleep 0.05; done\necho \"$t\"\n",
                          true));
    qputenv("FAKE_TOOLS", QFile::encodeName(tools()));
    qputenv("PATH", QFile::encodeName(tools()) + ':' + qgetenv("PATH"));
}

void tst_SettingsDialog::init()
{
    QVERIFY(m_fixture.reset());
    DataPaths *paths = AppContext::instance()->dataPaths();
    for (const QString &file : {paths->settingsFile(), paths->localeFile(), paths->supportDataFile(),
                                paths->diagnosticsScript(), autostartFile(), tools() + "/calls"})
        QFile::remove(file);
    *AppContext::instance()->config() = Configuration();
    LoadTranslation();
    AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, TovraUserData());
}

void tst_SettingsDialog::saving_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("clicks"); // "none" unchecks every protocol
    QTest::addColumn<QString>("stored");
    const QByteArray all = "<Settings><Connection type=\"PPtP\"/><MinimizeToTray enabled=\"0\"/><AutoLaunch "
                           "enabled=\"1\"/><AutoConnect enabled=\"1\"/><NearestServer enabled=\"1\"/><SmartServerList "
                           "enabled=\"0\"/><KillSwitch enabled=\"1\"/><DnsLeakFix enabled=\"1\"/></Settings>";
    QTest::newRow("defaults kept") << QByteArray() << QStringList() << "p0 m1 r1 l0 a0 f0 n0 s1 k0 d0";
    QTest::newRow("every option read into its box") << all << QStringList() << "p4 m0 r0 l1 a1 f0 n1 s0 k1 d1";
    QTest::newRow("every box changed") << QByteArray() << QStringList{"minimizeToTrayCheckBox",    "autoLaunchCheckBox",
                                                                      "autoConnectCheckBox",       "smartListCheckBox",
                                                                      "killSwitchCheckBox",        "dnsLeakCheckBox",
                                                                      "protocolOpenVpnRadioButton"}
                                       << "p1 m0 r0 l1 a1 f1 n0 s0 k1 d1";
    QTest::newRow("every box changed back")
        << all
        << QStringList{"minimizeToTrayCheckBox", "autoLaunchCheckBox", "autoConnectCheckBox",     "smartListCheckBox",
                       "killSwitchCheckBox",     "dnsLeakCheckBox",    "protocolIkev2RadioButton"}
        << "p2 m1 r1 l0 a0 f0 n0 s1 k0 d0";
    QTest::newRow("no protocol checked") << QByteArray("<Settings><Connection type=\"L2TP\"/></Settings>")
                                         << QStringList{"none"} << "p0 m1 r1 l0 a0 f0 n0 s1 k0 d0";
}

void tst_SettingsDialog::saving()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, clicks);
    QFETCH(QString, stored);
    Configuration *config = AppContext::instance()->config();
    QVERIFY(settings.isEmpty() || writeFile(AppContext::instance()->dataPaths()->settingsFile(), settings));
    config->LoadSettings();
    config->autoProtocolIndex = 3;
    TovraSettingsDialog dialog;
    QSignalSpy updated(&dialog, &TovraSettingsDialog::ConfigurationUpdated);
    dialog.show();
    for (const QString &name : clicks) {
        for (QRadioButton *button : name == "none" ? dialog.findChildren<QRadioButton *>() : QList<QRadioButton *>()) {
            button->setAutoExclusive(false);
            button->setChecked(false);
        }
        if (name != "none")
            Child(&dialog, qPrintable(name))->click();
    }
    auto *minimize = Child<QCheckBox>(&dialog, "minimizeToTrayCheckBox");
    QCOMPARE(Child<QCheckBox>(&dialog, "reminderCheckBox")->isEnabled(), minimize->isChecked());
    QCOMPARE(dialog.IsOptionsChanged(), !clicks.isEmpty());
    QTest::mouseClick(Child(&dialog, "saveButton"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible() && updated.count() == 1 && config->autoProtocolIndex == 0);
    Configuration reread;
    reread.ReadSettingsFile(AppContext::instance()->dataPaths()->settingsFile());
    QCOMPARE(Options(reread), stored);
}

void tst_SettingsDialog::closing_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("locale");
    QTest::newRow("nothing changed") << 0 << "" << QByteArray();
    QTest::newRow("language changed, SAVE") << 2 << "primaryButton" << QByteArray("de");
    QTest::newRow("language changed, CANCEL") << 1 << "secondaryButton" << QByteArray();
}

void tst_SettingsDialog::closing()
{
    QFETCH(int, language);
    QFETCH(QString, answer);
    QFETCH(QByteArray, locale);
    TovraSettingsDialog dialog;
    QSignalSpy updated(&dialog, &TovraSettingsDialog::ConfigurationUpdated);
    dialog.show();
    Child<QComboBox>(&dialog, "languageComboBox")->setCurrentIndex(language);
    QTest::mouseClick(Child(&dialog, "closeButton"), Qt::LeftButton);
    auto *question = dialog.findChild<TovraGenericDialog *>();
    QCOMPARE(dialog.isVisible(), !answer.isEmpty());
    if (!answer.isEmpty()) {
        QCOMPARE(Text(question, "titleLabel") + '|' + Text(question, "textLabel"),
                 "You have adjusted your settings.|Do you want to save these?");
        QTest::mouseClick(Child(question, qPrintable(answer)), Qt::LeftButton);
        QTRY_VERIFY(!dialog.isVisible());
    }
    QCOMPARE(readFile(AppContext::instance()->dataPaths()->localeFile()), locale);
    QCOMPARE(updated.count(), int(!locale.isEmpty()));
}

void tst_SettingsDialog::language()
{
    TovraSettingsDialog dialog;
    QSignalSpy changed(&dialog, &TovraSettingsDialog::LanguageChanged);
    dialog.SetLoginText("Jan Facebook");
    dialog.SetSmartListEditable(false);
    dialog.show();
    auto *languages = Child<QComboBox>(&dialog, "languageComboBox");
    // Language, then the title, the first tab, the account label, the smart-list box and the language's own name.
    for (const auto &[index, code, texts] :
         {std::tuple{2, "de",
                     "EINSTELLUNGEN|ALLGEMEIN|mit Facebook angemeldet|Intelligente Serverliste aktivieren "
                     "(Sie müssen\ngetrennt sein)|Deutsch"},
          {0, "en",
           "SETTINGS|GENERAL|logged in with Facebook|Enable smart server list (You have to "
           "be\ndisconnected)|English"}}) {
        languages->setCurrentIndex(index);
        QTest::mouseClick(Child(&dialog, "applyLanguageButton"), Qt::LeftButton);
        QCOMPARE(readFile(AppContext::instance()->dataPaths()->localeFile()), QByteArray(code));
        QCOMPARE(QStringList({Text(&dialog, "titleLabel"), Child<QTabWidget>(&dialog, "tabWidget")->tabText(0),
                              Text(&dialog, "loginLabel"), Child<QCheckBox>(&dialog, "smartListCheckBox")->text(),
                              languages->itemText(index)})
                     .join('|'),
                 QString(texts));
        QCOMPARE(languages->currentIndex(), index);
        // The FAQ page of the language.
        dialog.OnFaqLinkActivated("ignored");
        QCOMPARE(m_fixture.opened.value(m_fixture.opened.size() - 1).path(),
                 code == QLatin1String("de") ? "/de/faq" : "/faq");
    }
    QCOMPARE(changed.count(), 2);
}

void tst_SettingsDialog::banners_data()
{
    QTest::addColumn<QString>("plan");
    QTest::addColumn<QString>("upgrade"); // empty: hidden
    QTest::addColumn<int>("inviteY");     // -1: hidden
    QTest::newRow("trial") << "trial"
                           << "Enjoy TOVRA VPN product? Upgrade your trial!" << 271;
    QTest::newRow("limited") << ""
                             << "Enjoy unlimited data? Upgrade now!" << 271;
    QTest::newRow("monthly unlimited") << "unlimited"
                                       << "Save money using our Annual Subscription!" << 271;
    QTest::newRow("annual unlimited") << "unlimited annual"
                                      << "" << 225;
    QTest::newRow("business") << "unlimited b2b"
                              << "" << -1;
}

void tst_SettingsDialog::banners()
{
    QFETCH(QString, plan);
    QFETCH(QString, upgrade);
    QFETCH(int, inviteY);
    TovraUserData user;
    user.isUnlimited = user.isAnnual = true;
    TovraAuthManager *auth = AppContext::instance()->authManager();
    TovraSettingsDialog dialog;
    // Shown for an annual plan first, so that each plan's places are set anew.
    auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, user);
    dialog.show();
    dialog.hide();
    user.isTrial = plan.contains("trial");
    user.isUnlimited = plan.contains("unlimited");
    user.isAnnual = plan.contains("annual");
    user.isB2b = plan.contains("b2b");
    auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, user);
    dialog.show();
    QWidget *upgradeBanner = Child<QWidget>(&dialog, "upgradeBanner");
    QWidget *inviteBanner = Child<QWidget>(&dialog, "inviteBanner");
    QCOMPARE(upgradeBanner->isVisible() ? Text(&dialog, "upgradeLabel") : QString(), upgrade);
    QCOMPARE(inviteBanner->isVisible() ? inviteBanner->y() : -1, inviteY);
}

void tst_SettingsDialog::startAtLogin_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<bool>("click");
    QTest::addColumn<QString>("program"); // empty: the client itself; else applied directly
    QTest::addColumn<QString>("exec");    // empty: no entry
    const QString self = '"' + QCoreApplication::applicationFilePath() + '"';
    QTest::newRow("checked and saved") << false << true << "" << self;
    QTest::newRow("unchecked and saved") << true << true << ""
                                         << "";
    QTest::newRow("shown unchecked") << false << false << ""
                                     << "";
    QTest::newRow("shown checked") << true << false << "" << self;
    QTest::newRow("path with quote, $, \\ and %") << true << false << "/opt/T V\"$x\\%/TovraVPN"
                                                  << "\"/opt/T V\\\\\"\\\\$x\\\\\\\\%%/TovraVPN\"";
    QTest::newRow("path with a line break") << true << false << "/opt/x\nName=y"
                                            << "";
}

void tst_SettingsDialog::startAtLogin()
{
    QFETCH(bool, stored);
    QFETCH(bool, click);
    QFETCH(QString, program);
    QFETCH(QString, exec);
    // An entry left from before, which the show or the save has to bring in line with the record.
    QVERIFY(writeFile(autostartFile(), "[Desktop Entry]\nExec=old\n"));
    if (!program.isEmpty()) {
        QCOMPARE(ApplyStartAtLogin(stored, program), !exec.isEmpty());
    } else {
        AppContext::instance()->config()->autoLaunch = stored;
        TovraSettingsDialog dialog;
        dialog.show();
        if (click) {
            Child(&dialog, "autoLaunchCheckBox")->click();
            Child(&dialog, "saveButton")->click();
        }
    }
    const QByteArray entry = readFile(autostartFile());
    QCOMPARE(QString::fromUtf8(entry).section("Exec=", 1).section('\n', 0, 0), exec);
    QVERIFY(exec.isEmpty() || entry.startsWith("[Desktop Entry]\nType=Application\n"));
}

void tst_SettingsDialog::ticket_data()
{
    QTest::addColumn<QString>("hold");    // the tool held until the trigger
    QTest::addColumn<QString>("trigger"); // "74": released after a second at 74 %; "cancel": cancelled, released
    QTest::addColumn<QString>("shell");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<int>("ticketStatus"); // the stand-in's answer to the ticket; 0: its own
    QTest::addColumn<QString>("calls");    // tools run, in order
    QTest::addColumn<QString>("output");   // lines of the support data
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("log");
    const QString all = "nslookup 127.0.0.1|ping -c 4 127.0.0.1|ip addr|ip route|resolvectl status";
    const QString created = "Support ticket has been created.";
    QTest::newRow("sent") << "ping"
                          << "74"
                          << "" << 60000 << 0 << all << all << created << "";
    QTest::newRow("cancelled in step 1") << "nslookup"
                                         << "cancel"
                                         << "" << 60000 << 0 << "nslookup 127.0.0.1"
                                         << "nslookup 127.0.0.1"
                                         << "Send debug data directly to our support team:"
                                         << "";
    QTest::newRow("refused") << ""
                             << ""
                             << "" << 60000 << 500 << all << all
                             << "Support ticket error has occurred, please contact support."
                             << "";
    QTest::newRow("shell missing") << ""
                                   << ""
                                   << "/nonexistent/sh" << 20000 << 0 << ""
                                   << "" << created << "Diagnostics step 3 cannot be started: ";
    QTest::newRow("step over its limit") << "nslookup"
                                         << ""
                                         << "" << 1000 << 0 << all << all.section('|', 1) << created
                                         << "Diagnostics step 1 did not end within 1 seconds";
}

void tst_SettingsDialog::ticket()
{
    QFETCH(QString, hold);
    QFETCH(QString, trigger);
    QFETCH(QString, shell);
    QFETCH(int, limitMs);
    QFETCH(int, ticketStatus);
    QFETCH(QString, calls);
    QFETCH(QString, output);
    QFETCH(QString, status);
    QFETCH(QString, log);
    const DataPaths *paths = AppContext::instance()->dataPaths();
    const bool created = status == "Support ticket has been created.";
    QVERIFY(!ticketStatus || m_fixture.provider.script("/users/me/ticket", ticketStatus, "{}"));
    QVERIFY(hold.isEmpty() || writeFile(tools() + "/hold-" + hold, ""));
    const auto release = [&] { QFile::remove(tools() + "/hold-" + hold); };
    const auto releaseAtEnd = qScopeGuard(release);
    TovraSettingsDialog dialog;
    dialog.setDiagnosticsStepLimit(limitMs);
    if (!shell.isEmpty())
        dialog.setDiagnosticsShell(shell);
    dialog.show();
    dialog.SetCurrentTab(3);
    auto *label = Child<QLabel>(&dialog, "ticketStatusLabel");
    // Watches the collection from inside its event loop: the progress shown, and the trigger.
    QList<int> shown;
    QElapsedTimer at74;
    bool stayedAt74 = false;
    QString refusal;
    QTimer watch;
    watch.setTimerType(Qt::PreciseTimer);
    connect(&watch, &QTimer::timeout, [&] {
        const QRegularExpressionMatch match = QRegularExpression("\\.\\.\\.(\\d+)%$").match(label->text());
        if (match.hasMatch() && (shown.isEmpty() || shown.last() != match.captured(1).toInt()))
            shown << match.captured(1).toInt();
        if (trigger == "74" && shown.value(shown.size() - 1) == 74 && !at74.isValid())
            at74.start();
        if (trigger == "74" && at74.isValid() && at74.elapsed() > 1000 && !stayedAt74) {
            stayedAt74 = shown.last() == 74;
            release();
        }
        if (trigger == "cancel" && readFile(tools() + "/calls").startsWith("nslookup") && refusal.isEmpty()) {
            dialog.close();
            refusal = Text(dialog.findChild<TovraGenericDialog *>(), "titleLabel");
            Child(&dialog, "cancelTicketButton")->click();
            release();
        }
    });
    watch.start(5);
    QTest::mouseClick(Child(&dialog, "sendTicketButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), status, 20000);
    watch.stop();

    QCOMPARE(QString::fromUtf8(readFile(tools() + "/calls")).split('\n', Qt::SkipEmptyParts).join('|'), calls);
    const QJsonArray tickets = m_fixture.provider.tickets();
    QCOMPARE(tickets.size(), int(created));
    const QJsonObject ticket = tickets.at(0).toObject();
    const QByteArray data =
        tickets.isEmpty() ? readFile(paths->supportDataFile()) : ticket.value("collectedData").toString().toUtf8();
    QCOMPARE(Unscrambled(data).join('|'), output);
    QCOMPARE(QFile::exists(paths->supportDataFile()), !created);
    QCOMPARE(QFile::exists(paths->diagnosticsScript()), trigger == "cancel");
    QVERIFY(!QFile::exists(paths->diagnosticsOutput()));
    QVERIFY(log.isEmpty() || m_fixture.logged(log));
    QCOMPARE(Child<QWidget>(&dialog, "ticketButtonStack")->isVisible(), trigger == "cancel");
    QString seen;
    for (const int value : shown)
        seen += QString::number(value) + ' ';
    QVERIFY2(std::is_sorted(shown.begin(), shown.end()), qPrintable(seen));
    if (trigger == "cancel")
        QCOMPARE(refusal, "Collection of debug data is in progress.");
    if (trigger == "74")
        QVERIFY2(stayedAt74 && shown.value(shown.indexOf(74) + 1) == 75, qPrintable(seen));
    if (created) {
        // The portal is asked for the ticket's page.
        QTRY_VERIFY(!m_fixture.lastRequest("/users/me/auto_auth_url").isEmpty());
        QCOMPARE(m_fixture.lastRequest("/users/me/auto_auth_url").value("query").toString(),
                 QString("goto=viewticket.php%3Ftid=%1%26c=%2")
                     .arg(ticket.value("id").toVariant().toString(), ticket.value("check").toString()));
    }
    dialog.close();
    QVERIFY(!dialog.isVisible());
}

void tst_SettingsDialog::ticketPage()
{
    for (const auto &[url, query] :
         {std::pair{"https://portal.test/viewticket.php?tid=1&c=x", "?goto=viewticket.php%3Ftid=1%26c=x"},
          {"https://portal.test/a?b=viewticket&c=1", "?goto=viewticket%26c=1"},
          {"https://portal.test/t?id=7&c=x", "?goto=https://portal.test/t%3Fid=7%26c=x"}})
        QCOMPARE(NetworkDiagnostics::TicketGotoQuery(url), QString(query));
}

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
