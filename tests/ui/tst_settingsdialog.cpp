#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QtTest>

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
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

// The protocol, then minimise, reminder, launch, auto-connect, favourite, nearest, smart list, kill switch, DNS.
static QString Options(const Configuration &c)
{
    QString text = QString::number(c.protocol) + ' ';
    for (const bool flag : {c.minimizeToTray, c.remindAboutConnection, c.autoLaunch, c.autoConnect, c.connectToFavorite,
                            c.connectToNearest, c.smartServerList, c.killSwitch, c.dnsLeakFix})
        text += flag ? '1' : '0';
    return text;
}

// Lines "N: scrambled" back to the lines they carry.
static QString Unscrambled(const QByteArray &data)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(data).split('\n', Qt::SkipEmptyParts))
        lines << (line.startsWith(QString::number(lines.size()) + ": ") ? UnscrambleText(line.section(": ", 1))
                                                                        : "unnumbered: " + line);
    return lines.join('|');
}

class tst_SettingsDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void saving_data();
    void saving();
    void banners();
    void startAtLogin();
    void ticket_data();
    void ticket();

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
    // Stand-ins for the tools: each records its call, waits while its hold file exists, then prints its call.
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
}

void tst_SettingsDialog::saving_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("changes"); // boxes clicked; "none": no protocol checked; "German": the language;
                                          // "restore": minimized and restored
    QTest::addColumn<int>("closing");     // 0 SAVE pressed; 1 closed; 2, 3: closed, then SAVE or CANCEL asked for
    QTest::addColumn<QString>("stored");  // empty: nothing saved
    const QByteArray all = "<Settings><Connection type=\"PPtP\"/><MinimizeToTray enabled=\"0\"/><AutoLaunch "
                           "enabled=\"1\"/><AutoConnect enabled=\"1\"/><NearestServer enabled=\"1\"/><SmartServerList "
                           "enabled=\"0\"/><KillSwitch enabled=\"1\"/><DnsLeakFix enabled=\"1\"/></Settings>";
    const QString boxes = "minimizeToTrayCheckBox autoLaunchCheckBox autoConnectCheckBox smartListCheckBox "
                          "killSwitchCheckBox dnsLeakCheckBox ";
    QTest::newRow("every option read") << all << QString() << 0 << "4 001101011";
    QTest::newRow("every box changed") << QByteArray() << boxes + "protocolOpenVpnRadioButton" << 0 << "1 001110011";
    QTest::newRow("restored from minimized, edits kept")
        << QByteArray() << boxes + "protocolOpenVpnRadioButton restore" << 0 << "1 001110011";
    QTest::newRow("every box changed back") << all << boxes + "protocolIkev2RadioButton" << 0 << "2 110000100";
    QTest::newRow("no protocol checked") << QByteArray("<Settings><Connection type=\"L2TP\"/></Settings>") << "none"
                                         << 0 << "0 110000100";
    QTest::newRow("nothing changed, closed") << QByteArray() << QString() << 1 << QString();
    QTest::newRow("German, closed, SAVE") << QByteArray() << "German" << 2 << "0 110000100";
    QTest::newRow("German, closed, CANCEL") << QByteArray() << "German" << 3 << QString();
}

void tst_SettingsDialog::saving()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, changes);
    QFETCH(int, closing);
    QFETCH(QString, stored);
    DataPaths *paths = AppContext::instance()->dataPaths();
    Configuration *config = AppContext::instance()->config();
    QVERIFY(settings.isEmpty() || writeFile(paths->settingsFile(), settings));
    QVERIFY(writeFile(autostartFile(), "[Desktop Entry]\nExec=old\n"));
    config->LoadSettings();
    config->autoProtocolIndex = 3;
    TovraSettingsDialog dialog;
    QSignalSpy updated(&dialog, &TovraSettingsDialog::ConfigurationUpdated);
    QSignalSpy languageChanged(&dialog, &TovraSettingsDialog::LanguageChanged);
    dialog.SetLoginText("Jan Facebook");
    dialog.SetSmartListEditable(closing != 2);
    dialog.show();
    for (const QString &name : changes.split(' ', Qt::SkipEmptyParts)) {
        for (QRadioButton *button : name == "none" ? dialog.findChildren<QRadioButton *>() : QList<QRadioButton *>()) {
            button->setAutoExclusive(false);
            button->setChecked(false);
        }
        if (name == "German")
            Child<QComboBox>(&dialog, "languageComboBox")->setCurrentIndex(2);
        else if (name == "restore")
            dialog.showMinimized(), dialog.showNormal();
        else if (name != "none")
            Child(&dialog, qPrintable(name))->click();
    }
    QCOMPARE(Child(&dialog, "reminderCheckBox")->isEnabled(), Child(&dialog, "minimizeToTrayCheckBox")->isChecked());
    QCOMPARE(dialog.IsOptionsChanged(), !changes.isEmpty());
    QTest::mouseClick(Child(&dialog, closing ? "closeButton" : "saveButton"), Qt::LeftButton);
    if (closing > 1) {
        auto *question = dialog.findChild<TovraGenericDialog *>();
        QCOMPARE(Child<QLabel>(question, "textLabel")->text(), "Do you want to save these?");
        QTest::mouseClick(Child(question, closing == 2 ? "primaryButton" : "secondaryButton"), Qt::LeftButton);
    }
    QTRY_VERIFY(!dialog.isVisible());
    QVERIFY(updated.count() == int(!stored.isEmpty()) && (stored.isEmpty() || config->autoProtocolIndex == 0));
    Configuration reread;
    reread.ReadSettingsFile(paths->settingsFile());
    QCOMPARE(QFile::exists(paths->settingsFile()) ? Options(reread) : QString(), stored);
    // The autostart entry, left from before, matches the choice after the show or the save.
    QCOMPARE(readFile(autostartFile()), reread.autoLaunch
                                            ? "[Desktop Entry]\nType=Application\nName=TOVRA VPN\nExec=\"" +
                                                  QFile::encodeName(QCoreApplication::applicationFilePath()) +
                                                  "\"\nX-GNOME-Autostart-enabled=true\n"
                                            : QByteArray());
    // Saving German applies it first: locale file, the project's German translation, kept texts, FAQ page.
    const bool german = changes == "German" && !stored.isEmpty();
    QCOMPARE(readFile(paths->localeFile()), german ? "de" : "");
    QCOMPARE(languageChanged.count(), int(german));
    QCOMPARE(Child<QLabel>(&dialog, "loginLabel")->text() + '|' + Child(&dialog, "smartListCheckBox")->text(),
             german ? "mit Facebook angemeldet|Intelligente Serverliste aktivieren (Sie müssen\ngetrennt sein)"
                    : "logged in with Facebook|Enable smart server list");
    dialog.OnFaqLinkActivated("ignored");
    QCOMPARE(m_fixture.opened.value(0).path(), german ? "/de/faq" : "/faq");
    QVERIFY(m_fixture.logged("Faq link clicked in Settings window: " + m_fixture.opened.value(0).toString()));
}

void tst_SettingsDialog::banners()
{
    TovraUserData annual;
    annual.isUnlimited = annual.isAnnual = true;
    TovraAuthManager *auth = AppContext::instance()->authManager();
    TovraSettingsDialog dialog;
    // Plan (trial, unlimited, annual, business), upgrade text (empty: hidden), invite banner's y (-1: hidden).
    for (const auto &[plan, upgrade, inviteY] :
         {std::tuple{"1000", "Enjoy TOVRA VPN product? Upgrade your trial!", 271},
          {"0000", "Enjoy unlimited data? Upgrade now!", 271},
          {"0100", "Save money using our Annual Subscription!", 271},
          {"0110", "", 225},
          {"0101", "", -1}}) {
        // Shown for an annual plan first, so that each plan's places are set anew.
        auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, annual);
        dialog.show();
        dialog.hide();
        TovraUserData user;
        std::tie(user.isTrial, user.isUnlimited, user.isAnnual, user.isB2b) =
            std::tuple(plan[0] == '1', plan[1] == '1', plan[2] == '1', plan[3] == '1');
        auth->OnUserDataChecked(TovraAuthManager::AuthSuccess, user);
        dialog.show();
        QWidget *invite = Child<QWidget>(&dialog, "inviteBanner");
        QCOMPARE(Child<QWidget>(&dialog, "upgradeBanner")->isVisible() ? Child<QLabel>(&dialog, "upgradeLabel")->text()
                                                                       : "",
                 QString(upgrade));
        QCOMPARE(invite->isVisible() ? invite->y() : -1, inviteY);
        dialog.hide();
    }
}

void tst_SettingsDialog::startAtLogin()
{
    // Program path, then the Exec line of the entry (empty: none).
    for (const auto &[program, exec] :
         {std::pair{"/opt/T V\"$x\\%/TovraVPN", "\"/opt/T V\\\\\"\\\\$x\\\\\\\\%%/TovraVPN\""},
          {"/opt/x\nName=y", ""}}) {
        QVERIFY(writeFile(autostartFile(), "[Desktop Entry]\nExec=old\n"));
        QCOMPARE(applyStartAtLogin(true, program), *exec != 0);
        QCOMPARE(QString::fromUtf8(readFile(autostartFile())).section("Exec=", 1).section('\n', 0, 0), exec);
    }
}

void tst_SettingsDialog::ticket_data()
{
    QTest::addColumn<QString>("hold"); // the tool held until: "74" a second at 74 %, "cancel" cancelled; or never;
                                       // "@unwritable": the support data file cannot be written
    QTest::addColumn<QString>("shell");
    QTest::addColumn<int>("limitMs");
    QTest::addColumn<QString>("calls"); // tools run, in order
    QTest::addColumn<QString>("data");  // lines of the support data
    QTest::addColumn<QString>("log");
    const QString all = "nslookup 127.0.0.1|ping -c 4 127.0.0.1|ip addr|ip route|resolvectl status";
    QTest::newRow("sent") << "ping@74" << QString() << 30000 << all << all << QString();
    QTest::newRow("cancelled") << "nslookup@cancel" << QString() << 30000 << all.left(18) << all.left(18) << QString();
    QTest::newRow("shell missing") << QString() << "/nonexistent/sh" << 20000 << QString() << QString()
                                   << "Diagnostics step 3 cannot be started: ";
    QTest::newRow("step over its limit") << "nslookup" << QString() << 1000 << all << all.section('|', 1)
                                         << "Diagnostics step 1 did not end within 1 seconds";
    QTest::newRow("support data unwritable") << "@unwritable" << QString() << 30000 << all << QString()
                                             << "Support data file cannot be written. Ticket not sent.";
}

void tst_SettingsDialog::ticket()
{
    QFETCH(QString, hold);
    QFETCH(QString, shell);
    QFETCH(int, limitMs);
    QFETCH(QString, calls);
    QFETCH(QString, data);
    QFETCH(QString, log);
    const DataPaths *paths = AppContext::instance()->dataPaths();
    const QString trigger = hold.section('@', 1), holdFile = tools() + "/hold-" + hold.section('@', 0, 0);
    const QString status = trigger == "cancel"       ? "Send debug data directly to our support team:"
                           : trigger == "unwritable" ? "Support ticket error has occurred, please contact support."
                                                     : "Support ticket has been created.";
    // An older support data file stays where this one cannot be written: a folder in its place.
    const bool unwritable = trigger == "unwritable";
    QVERIFY(!unwritable || (writeFile(paths->supportDataFile() + "/old", "0: old") && !QFile::exists(holdFile)));
    const auto removeFolder = qScopeGuard([&] { QDir(paths->supportDataFile() + "/").removeRecursively(); });
    QVERIFY(hold.isEmpty() || unwritable || writeFile(holdFile, ""));
    const auto release = qScopeGuard([&] { QFile::remove(holdFile); });
    TovraSettingsDialog dialog;
    dialog.setDiagnosticsStepLimit(limitMs);
    if (!shell.isEmpty())
        dialog.setDiagnosticsShell(shell);
    dialog.show();
    auto *label = Child<QLabel>(&dialog, "ticketStatusLabel");
    // Watches the collection from inside its event loop: the progress shown, and the trigger.
    QList<int> shown;
    bool at74 = false, stayedAt74 = false;
    QString refusal;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        const QRegularExpressionMatch match = QRegularExpression("\\.\\.\\.(\\d+)%$").match(label->text());
        if (match.hasMatch() && shown.value(shown.size() - 1, -1) != match.captured(1).toInt())
            shown << match.captured(1).toInt();
        if (trigger == "74" && shown.value(shown.size() - 1) == 74 && !std::exchange(at74, true))
            QTimer::singleShot(1000, &watch, [&] { stayedAt74 = QFile::remove(holdFile) && shown.last() == 74; });
        if (trigger == "cancel" && readFile(tools() + "/calls").startsWith("nslookup") && refusal.isEmpty()) {
            dialog.close();
            refusal = Child<QLabel>(dialog.findChild<TovraGenericDialog *>(), "titleLabel")->text();
            Child(&dialog, "cancelTicketButton")->click();
            QFile::remove(holdFile);
        }
    });
    watch.start(5);
    QTest::mouseClick(Child(&dialog, "sendTicketButton"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(label->text(), status, 20000);

    QCOMPARE(QString::fromUtf8(readFile(tools() + "/calls")).split('\n', Qt::SkipEmptyParts).join('|'), calls);
    const QJsonArray tickets = m_fixture.provider.tickets();
    const QJsonObject ticket = tickets.at(0).toObject();
    QCOMPARE(tickets.size(), int(trigger != "cancel" && !unwritable));
    QCOMPARE(Unscrambled(tickets.isEmpty() ? readFile(paths->supportDataFile())
                                           : ticket.value("collectedData").toString().toUtf8()),
             data);
    QCOMPARE(QFile::exists(paths->supportDataFile()), tickets.isEmpty());
    QCOMPARE(QFile::exists(paths->diagnosticsScript()), trigger == "cancel");
    QVERIFY(!QFile::exists(paths->diagnosticsOutput()) && (log.isEmpty() || m_fixture.logged(log)));
    QCOMPARE(refusal, trigger == "cancel" ? "Collection of debug data is in progress." : "");
    QVERIFY(trigger != "74" || (stayedAt74 && shown.value(shown.indexOf(74) + 1) == 75));
    // The portal is asked for the ticket's page.
    if (!tickets.isEmpty())
        QTRY_COMPARE(m_fixture.lastRequest("/users/me/auto_auth_url").value("query").toString(),
                     QString("goto=viewticket.php%3Ftid=%1%26c=%2")
                         .arg(ticket.value("id").toVariant().toString(), ticket.value("check").toString()));
    dialog.close();
    QVERIFY(!dialog.isVisible());
}

QTEST_MAIN(tst_SettingsDialog)
#include "tst_settingsdialog.moc"
