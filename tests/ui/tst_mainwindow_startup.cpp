#include <QtTest>

#include <QtWidgets>

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/scramble.h"
#include "fakeservicecontroller.h"
#include "servers/tovraservermanager.h"
#include "support/standinprovider.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovramainwindow.h"
#include "vpn/rasapi.h"

namespace {
constexpr int kWait = 20000;
}

// Records the status display's slots the sign-in flow runs by name.
class Window : public TovraMainWindow
{
    Q_OBJECT
public:
    using TovraMainWindow::TovraMainWindow;
    QStringList ran;
public slots:
    void OnAccountButtonPressed() { ran << "account"; }
};

class tst_MainWindowStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_fixture.start(), qPrintable(m_fixture.provider.errorString())); }
    void init();
    void networkWait_data();
    void networkWait();
    void signIn_data();
    void signIn();
    void storedTokenReachesMainView_data();
    void storedTokenReachesMainView();
    void apiErrorScreen();

private:
    template <class T>
    T *w(const char *name)
    {
        return m_window->findChild<T *>(name);
    }
    int view() { return w<QStackedWidget>("tovraCurrentView")->currentIndex(); }
    void start(bool internet = true, bool api = true);
    void storeToken(const QString &token) { QVERIFY(writeFile(tokenFile(), ScrambleText(token).toLatin1())); }
    QString tokenFile() { return AppContext::instance()->dataPaths()->tokenFile(); }
    bool writeFile(const QString &path, const QByteArray &data)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
    }
    // Answers the update check in the other engineer's stead and waits for the main view.
    void reachMainView()
    {
        QVERIFY(LogCapture::waitFor("Get information about application updates.", kWait));
        emit m_window->UpdateDataReceived();
        QTRY_COMPARE_WITH_TIMEOUT(view(), 3, kWait);
    }

    ProviderFixture m_fixture;
    std::unique_ptr<Window> m_window;
    int m_checks = 0;
};

void tst_MainWindowStartup::init()
{
    m_window.reset();
    QVERIFY(m_fixture.reset());
    QFile::remove(tokenFile());
    QFile::remove(AppContext::instance()->dataPaths()->intervalFile());
    writeFile(AppContext::instance()->dataPaths()->welcomeFile(), "false");
    *AppContext::instance()->config() = Configuration();
}

void tst_MainWindowStartup::start(bool internet, bool api)
{
    TovraMainWindow::Backends backends;
    backends.openVpnService = std::make_unique<FakeServiceController>(QStringLiteral("OpenVPNService"));
    backends.helperService = std::make_unique<FakeServiceController>(QStringLiteral("TovraVPNService"));
    m_window = std::make_unique<Window>(std::move(backends));
    TovraMainWindow::Timings timings;
    timings.startupCheckInterval = 1;
    m_window->setTimings(timings);
    m_checks = 0;
    m_window->setStartupNetworkChecks([internet] { return internet; }, [this, api] { return ++m_checks, api; });
    m_window->show();
    m_window->Initialize();
}

// The wait counts from the interval file; the error text names what is missing.
void tst_MainWindowStartup::networkWait_data()
{
    QTest::addColumn<QByteArray>("interval");
    QTest::addColumn<bool>("internet");
    QTest::addColumn<int>("waits");
    QTest::addColumn<QString>("error");
    const QString noInternet = "There is no active Internet connection. Please check your network connection and "
                               "click Retry.";
    QTest::newRow("30") << QByteArray("30") << false << 30 << noInternet;
    QTest::newRow("0") << QByteArray("0") << false << 15 << noInternet;
    QTest::newRow("700, API silent") << QByteArray("700") << true << 15
                                     << "There is no access to TOVRA VPN services. Please check your network "
                                        "connection and click Retry.";
}

void tst_MainWindowStartup::networkWait()
{
    QFETCH(QByteArray, interval);
    QFETCH(bool, internet);
    QFETCH(int, waits);
    QFETCH(QString, error);
    QVERIFY(writeFile(AppContext::instance()->dataPaths()->intervalFile(), interval));
    start(internet, false);
    QTRY_VERIFY_WITH_TIMEOUT(w<QPushButton>("tovraInitRetryButton")->isVisible(), kWait);
    QCOMPARE(LogCapture::count("Active network connection not found. Next check in 1 second."), waits);
    QCOMPARE(m_checks, waits + 1);
    QCOMPARE(w<QLabel>("tovraInitErrorLabel")->text(), error);
    QVERIFY(!w<QLabel>("tovraInitTextLabel")->isVisible());
    QVERIFY(m_fixture.provider.requests().isEmpty());
}

// Each sign-in result: the popup, the fields left and what the popup's button does.
void tst_MainWindowStartup::signIn_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("plan"); // scripted plan answer, if any
    QTest::addColumn<QString>("popup");   // title | text | button
    QTest::addColumn<QString>("emailLeft");
    QTest::addColumn<QString>("action"); // what the button did
    QTest::newRow("wrong password") << "active@tovra.test"
                                    << "nope" << QByteArray()
                                    << "Invalid email address or password specified.|Please try again.|OK"
                                    << "active@tovra.test"
                                    << "";
    QTest::newRow("pending trial")
        << "pending@tovra.test"
        << "Pending-2026" << QByteArray()
        << "|It appears that you didn't verify your email yet for your TOVRA VPN Trial. Please check your email in "
           "order to activate your Trial account.\nOr PROCEED to your account to resend verification email.|PROCEED"
        << ""
        << "account";
    QTest::newRow("suspended") << "suspended@tovra.test"
                               << "Suspended-2026" << QByteArray()
                               << "|Sorry, we couldn't find any active subscription associated with this account."
                                  "\nPlease PROCEED to your account to reactivate your subscription.|PROCEED"
                               << ""
                               << "account";
    QTest::newRow("trial over") << "trial@tovra.test"
                                << "Trial-2026" << QByteArray(R"({"status": "suspended", "is_trial": 1})")
                                << "Your TOVRA VPN Trial is over now.|Please PROCEED to your account to activate "
                                   "your subscription.|PROCEED"
                                << ""
                                << "upgrade";
    QTest::newRow("blocked") << "blocked@tovra.test"
                             << "Blocked-2026" << QByteArray()
                             << "IP address blocked.|There are too many failed login attempts from your IP address. "
                                "Please contact support via our website.|Quit"
                             << "blocked@tovra.test"
                             << "";
    QTest::newRow("padded password signs in") << " active@tovra.test"
                                              << " Active-2026 " << QByteArray() << ""
                                              << ""
                                              << "";
}

void tst_MainWindowStartup::signIn()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(QByteArray, plan);
    QFETCH(QString, popup);
    QFETCH(QString, emailLeft);
    QFETCH(QString, action);
    if (!plan.isEmpty())
        QVERIFY(m_fixture.provider.script("/users/me/plan", 200, plan));
    start();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 1, kWait);
    QVERIFY(!w<QPushButton>("tovraLoginButton")->isEnabled());
    QTest::keyClicks(w<QLineEdit>("tovraLoginEmailEdit"), email);
    QTest::keyClick(w<QLineEdit>("tovraLoginEmailEdit"), Qt::Key_Return); // no password yet: nothing
    QTest::keyClicks(w<QLineEdit>("tovraLoginPasswordEdit"), " ");
    QVERIFY(w<QPushButton>("tovraLoginButton")->isEnabled());
    QTest::keyClick(w<QLineEdit>("tovraLoginPasswordEdit"), Qt::Key_Backspace);
    QTest::keyClicks(w<QLineEdit>("tovraLoginPasswordEdit"), password);
    QVERIFY(m_fixture.provider.requests("/auth/email").isEmpty());
    QTest::keyClick(w<QLineEdit>("tovraLoginPasswordEdit"), Qt::Key_Return);

    TovraGenericDialog *dialog = m_window->messageDialog();
    if (popup.isEmpty()) {
        QVERIFY(LogCapture::waitFor("Get local ip", kWait));
        const QJsonObject body =
            QJsonDocument::fromJson(m_fixture.lastRequest("/auth/email").value("body").toString().toUtf8()).object();
        QCOMPARE(body.value("password").toString(), QString("Active-2026"));
        QVERIFY(!dialog->isVisible());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), kWait);
    const QStringList parts = popup.split('|');
    QCOMPARE(dialog->findChild<QLabel *>("titleLabel")->text(), parts[0]);
    QCOMPARE(dialog->findChild<QLabel *>("textLabel")->text(), parts[1]);
    QPushButton *button = dialog->findChild<QPushButton *>("primaryButton");
    QCOMPARE(button->text(), parts[2]);
    QCOMPARE(view(), 1);
    QCOMPARE(w<QLineEdit>("tovraLoginEmailEdit")->text(), emailLeft);
    QVERIFY(w<QLineEdit>("tovraLoginPasswordEdit")->text().isEmpty());
    QVERIFY(!w<QPushButton>("tovraLoginButton")->isEnabled());
    if (action.isEmpty())
        return;
    QTest::mouseClick(button, Qt::LeftButton);
    if (action == "account")
        QTRY_COMPARE(m_window->ran, QStringList{"account"});
    else
        QTRY_VERIFY_WITH_TIMEOUT(!m_fixture.opened.isEmpty(), kWait);
}

// A stored token goes straight to the start-up data; a silent API keeps it and offers Retry; logout ends it.
void tst_MainWindowStartup::storedTokenReachesMainView_data()
{
    QTest::addColumn<bool>("silentOnce");
    QTest::addColumn<QString>("token");
    QTest::newRow("answered") << false << "demo-token-active";
    QTest::newRow("no answer, then Retry") << true << "demo-token-active";
    QTest::newRow("business") << false << "demo-token-business";
}

void tst_MainWindowStartup::storedTokenReachesMainView()
{
    QFETCH(bool, silentOnce);
    QFETCH(QString, token);
    storeToken(token);
    if (silentOnce)
        QVERIFY(m_fixture.provider.script(QJsonObject{{"path", "/users/me/plan"}, {"hangup", true}}));
    start();
    if (silentOnce) {
        QTRY_VERIFY_WITH_TIMEOUT(w<QPushButton>("tovraInitRetryButton")->isVisible(), kWait);
        QVERIFY(w<QLabel>("tovraInitErrorLabel")->text().startsWith("There is no access to TOVRA VPN services."));
        QVERIFY(QFile::exists(tokenFile()));
        QVERIFY(m_window->stateMachine()->isRunning());
        QVERIFY(m_fixture.provider.reset()); // the API answers again
        QTest::mouseClick(w<QPushButton>("tovraInitRetryButton"), Qt::LeftButton);
    }
    reachMainView();
    const QStringList steps{"Get login data",
                            "Get local ip",
                            "Get list of servers",
                            "Get openvpn tcp config info",
                            "Get information about application updates.",
                            "Switching to view: 3"};
    QStringList seen;
    for (const QString &line : LogCapture::lines())
        if (steps.contains(line) && (silentOnce || !seen.contains(line)))
            seen << line;
    QCOMPARE(seen.mid(seen.lastIndexOf("Get login data")), steps);
    QCOMPARE(m_window->connectionState(), StateDisconnected);

    auto *b2b = w<QRadioButton>("tovraMainServersB2bRadioButton");
    QCOMPARE(w<QFrame>("tovraMainPageServersOptionsFrame")->isVisible(), token.contains("business"));
    if (token.contains("business")) {
        QVERIFY(b2b->isChecked());
        auto *box = w<QComboBox>("tovraServersBox");
        const int b2bRows = box->count();
        QTest::mouseClick(w<QRadioButton>("tovraMainServersAllRadioButton"), Qt::LeftButton);
        QVERIFY(!AppContext::instance()->config()->b2bServerList);
        QVERIFY(box->count() != b2bRows);
        QCOMPARE(box->currentIndex(), AppContext::instance()->serverManager()->StartIndex());
    }
    emit m_window->accountDialog()->LogoutRequested();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 1, kWait);
    QVERIFY(!QFile::exists(tokenFile()));
    QVERIFY(w<QLineEdit>("tovraLoginEmailEdit")->text().isEmpty());
}

void tst_MainWindowStartup::apiErrorScreen()
{
    QVERIFY(m_fixture.provider.script("/users/me/servers", 500, "{\"error\": \"down\"}"));
    storeToken("demo-token-active");
    start();
    QTRY_VERIFY_WITH_TIMEOUT(w<QLabel>("tovraInitSupportTicketLabel")->isVisible(), kWait);
    QVERIFY(!m_window->stateMachine()->isRunning());
    const QString text = w<QLabel>("tovraInitErrorLabel")->text();
    QVERIFY2(text.startsWith("API error occurred with message:\n\"Network error: ") && text.endsWith('"'),
             qPrintable(text));
    QVERIFY(!w<QPushButton>("tovraInitRetryButton")->isVisible());
    QTest::qWait(300);
    QVERIFY(m_fixture.provider.requests("/config/openvpn/tcp").isEmpty());
}

QTEST_MAIN(tst_MainWindowStartup)
#include "tst_mainwindow_startup.moc"
