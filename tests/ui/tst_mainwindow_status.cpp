#include <QtTest>

#include <QtWidgets>

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "fakeservicecontroller.h"
#include "servers/tovraservermanager.h"
#include "support/mainwindowstartup.h"
#include "support/standinprovider.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovramainwindow.h"
#include "vpn/ikev2manager.h"

constexpr int kWait = 20000;

class tst_MainWindowStatus : public QObject
{
    Q_OBJECT

    ProviderFixture m_fixture;
    std::unique_ptr<TovraMainWindow> m_window;

    QString popup() const { return shownPopupTitle(m_window.get()); }
    void click(QObject *parent, const char *name)
    {
        QTest::mouseClick(parent->findChild<QPushButton *>(name), Qt::LeftButton);
    }
    void setAccount(bool trial, bool b2b)
    {
        TovraUserData user;
        user.isTrial = trial;
        user.isB2b = b2b;
        AppContext::instance()->authManager()->OnUserDataChecked(TovraAuthManager::AuthSuccess, user);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_fixture.start(), qPrintable(m_fixture.provider.errorString()));
        TovraServer server;
        server.shortName = server.displayName = server.key = "nl1";
        AppContext::instance()->config()->smartServerList = false;
        AppContext::instance()->serverManager()->SetServerLists({server}, {}, {}, {});
        AppContext::instance()->serverManager()->ApplyMainList();
    }

    void init()
    {
        m_window.reset();
        QVERIFY(m_fixture.reset());
        AppContext *context = AppContext::instance();
        QFile::remove(context->dataPaths()->popupFile());
        *context->config() = Configuration();
        context->config()->smartServerList = false;
        context->config()->protocol = PPTP;
        TovraMainWindow::Backends backends;
        backends.openVpnService = std::make_unique<FakeServiceController>("OpenVPNService");
        backends.helperService = std::make_unique<FakeServiceController>("TovraVPNService");
        m_window = std::make_unique<TovraMainWindow>(std::move(backends));
        m_window->setTimings({100, 500, 100, 1500, 1000, 1000, 30, 240000, 20, 1}); // a reminder every 20 ms
        m_window->setTrayCheck([] { return true; });
        detachStartupRequests(m_window.get());
        m_window->show();
        m_window->Initialize();
        // Without a token the start-up shows the sign-in view, having cleared the account record.
        QTRY_COMPARE(m_window->findChild<QStackedWidget *>("tovraCurrentView")->currentIndex(), 1);
        setAccount(false, false);
        context->authManager()->OnTrafficUpdated(true, 10, 1, false);
        answerStartup(m_window.get());
        QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateDisconnected, kWait);
    }

    void closeAndTray_data()
    {
        QTest::addColumn<QString>("setup"); // minimize-to-tray setting, desktop tray, window state before
        QTest::addColumn<int>("action");    // -1: close button, else a tray activation reason
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("logged");
        const auto row = [](const char *name, const char *setup, int action, const char *after, const char *logged) {
            QTest::newRow(name) << QString(setup) << action << QString(after) << QString(logged);
        };
        const int close = -1, click = QSystemTrayIcon::Trigger;
        row("close quits", "off tray shown", close, "quit", "");
        row("close to tray", "on tray shown", close, "hidden", "Reminder popup timer started");
        row("close, no tray", "on none shown", close, "minimized",
            "No system tray available. App minimized instead of hidden to tray");
        row("click hides", "on tray shown", click, "hidden", "App minimized to tray");
        row("click opens", "on tray hidden", click, "shown", "App restored from tray");
        row("double click restores", "on tray minimized", QSystemTrayIcon::DoubleClick, "shown", "App restored");
        row("right click: menu", "on tray shown", QSystemTrayIcon::Context, "menu", "");
    }

    void closeAndTray()
    {
        QFETCH(QString, setup);
        QFETCH(int, action);
        QFETCH(QString, after);
        QFETCH(QString, logged);
        AppContext::instance()->config()->minimizeToTray = setup.startsWith("on");
        m_window->setTrayCheck([setup] { return setup.contains("tray"); });
        if (setup.endsWith("hidden"))
            m_window->hide();
        if (setup.endsWith("minimized"))
            m_window->showMinimized();
        QTimer::singleShot(0, m_window.get(), [this, action] {
            if (action < 0)
                click(m_window.get(), "CloseButton");
            else
                emit m_window->findChild<QSystemTrayIcon *>()->activated(QSystemTrayIcon::ActivationReason(action));
        });
        QTimer fallback; // ends the event loop when nothing quits it
        connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        fallback.start(after == "quit" ? kWait : 300);
        QCOMPARE(QCoreApplication::exec(), after == "quit" ? 0 : 1);
        QCOMPARE(m_window->isHidden(), after == "hidden");
        QCOMPARE(m_window->isMinimized(), after == "minimized");
        auto *menu = m_window->findChild<QMenu *>(QString(), Qt::FindDirectChildrenOnly);
        QCOMPARE(menu->isVisible(), after == "menu");
        QCOMPARE(menu->actions().at(3)->text() + menu->actions().at(6)->text(), "Check for updatesQuit TOVRA VPN");
        QVERIFY2(logged.isEmpty() || LogCapture::contains(logged), qPrintable(LogCapture::dump()));
    }

    void reminder_data()
    {
        QTest::addColumn<bool>("remind");
        QTest::addColumn<QString>("then"); // "click" the balloon, "connect" meanwhile, "restore" the window
        QTest::newRow("balloon click connects") << true << "click";
        QTest::newRow("setting off") << false << "click";
        QTest::newRow("skipped while connecting") << true << "connect";
        QTest::newRow("restore stops it") << true << "restore";
    }

    void reminder()
    {
        QFETCH(bool, remind);
        QFETCH(QString, then);
        AppContext::instance()->config()->remindAboutConnection = remind;
        click(m_window.get(), "CloseButton");
        if (then == "connect")
            emit m_window->ikev2Manager()->Connecting();
        const bool balloon = remind && then != "connect";
        const QString skipped = "App is already connected. Skip reminder popup";
        QVERIFY(!remind || LogCapture::waitFor(balloon ? "Show reminder popup" : skipped, kWait));
        if (then == "restore")
            m_window->OnOpen();
        emit m_window->findChild<QSystemTrayIcon *>()->messageClicked();
        QTest::qWait(200); // a timer still running would show more balloons meanwhile
        const int shown = LogCapture::count("Show reminder popup");
        QTest::qWait(200);
        QVERIFY(LogCapture::count("Show reminder popup") == shown && (shown > 0) == balloon);
        QCOMPARE(m_window->isVisible(), balloon);
        if (then == "click" && remind)
            QTRY_VERIFY_WITH_TIMEOUT(LogCapture::anyContains("Connecting to: nl1 (nl1) via PPtP"), kWait);
        QCOMPARE(LogCapture::anyContains("Connecting to: "), then == "click" && remind);
        m_window->RetranslateUI(); // keeps "Connecting" while connecting
        QVERIFY(then != "connect" || m_window->findChild<QLabel *>("tovraMainStatusTextLabel")->text() == "Connecting");
    }

    void trafficNotices_data()
    {
        QTest::addColumn<bool>("trial");
        QTest::addColumn<QList<int>>("percents"); // of 100 GiB, one check each
        QTest::addColumn<QList<int>>("notices");  // level shown by each check, 0 for none, 100 the limit popup
        QTest::newRow("trial") << true << QList<int>{60, 60, 80, 95, 95} << QList<int>{50, 0, 75, 90, 0};
        QTest::newRow("trial, edges") << true << QList<int>{49, 74, 89, 100} << QList<int>{0, 75, 90, 100};
        QTest::newRow("paid") << false << QList<int>{60, 95} << QList<int>{0, 0};
    }

    void trafficNotices()
    {
        QFETCH(bool, trial);
        QFETCH(QList<int>, percents);
        QFETCH(QList<int>, notices);
        setAccount(trial, false);
        const quint64 total = 100ull << 30;
        for (int i = 0; i < percents.size(); ++i) {
            m_window->messageDialog()->hide();
            AppContext::instance()->authManager()->OnTrafficUpdated(true, total, total / 100 * percents[i], false);
            QCOMPARE(popup(), notices[i] == 100 ? "Your traffic limit has been reached."
                              : notices[i]      ? QString("You've already used %1% of your data.").arg(notices[i])
                                                : QString());
        }
        QCOMPARE(LogCapture::contains("Traffic data updated: plan: 107374182400 (100 GB = 102400 MB) used: "
                                      "64424509440 (60.00 GB = 61440.00 MB)"),
                 percents[0] == 60);
    }

    void versions()
    {
        // Current, received, newer: numeric parts, a missing or non-numeric part counting as 0.
        for (const auto &[current, received, newer] : {std::tuple{"4.1.5.71", "4.1.10.1", true},
                                                       {"4.1.5.71", "4.1.5.71", false},
                                                       {"4.1.5.71", "4.1.5.72", true},
                                                       {"4.1.5.0", "4.1.5", false},
                                                       {"4.1.5", "4.1.5.1", true},
                                                       {"4.1.5.71", "4.1.x.99", false}})
            QVERIFY2(IsNewerVersion(current, received) == newer, received);
    }

    void popupCounters_data()
    {
        QTest::addColumn<bool>("business");
        QTest::addColumn<QPoint>("counts"); // invite, review in the popup file before
        QTest::addColumn<QStringList>("popups");
        const QString invite = "Give your friends 30% discount\nand earn money!",
                      review = "Are you enjoying TOVRA VPN?";
        QTest::newRow("fresh file") << false << QPoint(0, 0) << QStringList{"", "", invite, "", "", review};
        QTest::newRow("both due: one per connection") << false << QPoint(2, 5) << QStringList{invite, review};
        QTest::newRow("business") << true << QPoint(0, 0) << QStringList{"", "", "", "", "", ""};
    }

    void popupCounters()
    {
        QFETCH(bool, business);
        QFETCH(QPoint, counts);
        QFETCH(QStringList, popups);
        const QString file = AppContext::instance()->dataPaths()->popupFile();
        Configuration stored;
        stored.inviteConnectionCount = counts.x();
        stored.reviewConnectionCount = counts.y();
        QVERIFY(stored.WritePopupFile(file));
        setAccount(false, business);
        for (const QString &title : popups) {
            m_window->messageDialog()->hide();
            emit m_window->ikev2Manager()->Connecting();
            emit m_window->ikev2Manager()->Connected(); // then the assigned-IP check
            QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateConnected, kWait);
            QCOMPARE(popup(), title);
            click(m_window.get(), "tovraDisconnectButton");
            QTRY_COMPARE_WITH_TIMEOUT(m_window->connectionState(), StateDisconnected, kWait);
        }
        stored.ReadPopupFile(file);
        QCOMPARE(stored.inviteShown && stored.reviewShown, !business);
        QCOMPARE(stored.inviteAppVersion, business ? "" : ReadAppVersion());
    }

    void ticketLink()
    {
        // The ticket link opens the stand-in's ticket page, and no link that is not a web page.
        auto *label = m_window->findChild<QLabel *>("tovraInitSupportTicketLabel");
        QVERIFY(m_fixture.provider.script(QJsonObject{{"path", "/users/anonymous/ticket"},
                                                      {"status", 200},
                                                      {"body", "{\"url\": \"file:///etc/passwd\"}"},
                                                      {"times", 1}}));
        for (int ticket = 0; ticket < 2; ++ticket) {
            m_window->OnSendTicketRequested();
            QCOMPARE(label->text(), "Collecting debug data...");
            QTRY_COMPARE_WITH_TIMEOUT(label->text(), "Support ticket has been created.", kWait);
        }
        QTRY_COMPARE(m_fixture.opened.size(), 1);
        QVERIFY(m_fixture.opened[0].toString().contains("/viewticket.php?tid="));
    }

    void mapImage_data()
    {
        QTest::addColumn<bool>("business");
        QTest::addColumn<bool>("highDpi");
        QTest::newRow("personal, 2x screen") << false << true;
        QTest::newRow("business, 1x screen") << true << false;
    }

    void mapImage()
    {
        // A failed map falls back to the account's default; a received one keeps the screen's density.
        QFETCH(bool, business);
        QFETCH(bool, highDpi);
        setAccount(false, business);
        AppContext::instance()->config()->highDpiScreen = highDpi;
        auto *label = m_window->findChild<QLabel *>("tovraMainMapLabel");
        m_window->UpdateMapImage(false, QImage());
        const QIcon fallback(business ? ":/map/resources/map/DefaultMapB2B.png" : ":/map/resources/map/DefaultMap.png");
        QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage(),
                 fallback.pixmap(fallback.availableSizes().first()).toImage());
        QImage received(40, 20, QImage::Format_ARGB32);
        received.fill(Qt::red);
        m_window->UpdateMapImage(true, received);
        QCOMPARE(label->pixmap(Qt::ReturnByValue).devicePixelRatio(), highDpi ? 2.0 : 1.0);
        QImage shown = label->pixmap(Qt::ReturnByValue).toImage().convertToFormat(QImage::Format_ARGB32);
        shown.setDevicePixelRatio(1.0);
        QCOMPARE(shown, received);
    }
};

QTEST_MAIN(tst_MainWindowStatus)
#include "tst_mainwindow_status.moc"
