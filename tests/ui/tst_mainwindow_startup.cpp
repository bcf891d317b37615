#include <QtTest>

#include <QtWidgets>

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/scramble.h"
#include "fakeservicecontroller.h"
#include "servers/tovraservermanager.h"
#include "support/standinprovider.h"
#include "testfiles.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovramainwindow.h"
#include "vpn/rasapi.h"

namespace {
constexpr int kWait = 20000;
}
#define w(T, name) m_window->findChild<T *>(name)

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
    void storedToken_data();
    void storedToken();
    void passwordReset_data();
    void passwordReset();
    void mainView_data();
    void mainView();
    void socialCancel_data();
    void socialCancel();

private:
    int view() { return w(QStackedWidget, "tovraCurrentView")->currentIndex(); }
    void start(bool internet = true, bool api = true);
    QString tokenFile() { return AppContext::instance()->dataPaths()->tokenFile(); }

    ProviderFixture m_fixture;
    std::unique_ptr<TovraMainWindow> m_window;
};

void tst_MainWindowStartup::init()
{
    m_window.reset();
    QVERIFY(m_fixture.reset());
    QFile::remove(tokenFile());
    writeFile(AppContext::instance()->dataPaths()->welcomeFile(), "false");
    *AppContext::instance()->config() = Configuration();
}

void tst_MainWindowStartup::start(bool internet, bool api)
{
    TovraMainWindow::Backends backends;
    backends.openVpnService = std::make_unique<FakeServiceController>(QStringLiteral("OpenVPNService"));
    backends.helperService = std::make_unique<FakeServiceController>(QStringLiteral("TovraVPNService"));
    m_window = std::make_unique<TovraMainWindow>(std::move(backends));
    TovraMainWindow::Timings timings;
    timings.startupCheckInterval = 1;
    m_window->setTimings(timings);
    m_window->setStartupNetworkChecks([internet] { return internet; }, [api] { return api; });
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
    QTRY_VERIFY_WITH_TIMEOUT(w(QPushButton, "tovraInitRetryButton")->isVisible(), kWait);
    QCOMPARE(LogCapture::count("Active network connection not found. Next check in 1 second."), waits);
    QCOMPARE(w(QLabel, "tovraInitErrorLabel")->text(), error);
    QVERIFY(m_fixture.provider.requests().isEmpty());
}

// Each sign-in result: the popup, the fields left and what the popup's button does.
void tst_MainWindowStartup::signIn_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("plan"); // scripted plan answer, if any
    QTest::addColumn<bool>("emailKept");
    QTest::addColumn<QString>("action"); // what the popup's button did
    QTest::addColumn<QString>("popup");  // title | text | button
    // clang-format off
    QTest::newRow("wrong password") << "active@tovra.test" << "nope" << QByteArray() << true << ""
        << "Invalid email address or password specified.|Please try again.|OK";
    QTest::newRow("pending trial") << "pending@tovra.test" << "Pending-2026" << QByteArray() << false << "account"
        << "|It appears that you didn't verify your email yet for your TOVRA VPN Trial. Please check your email in order to activate your Trial account.\nOr PROCEED to your account to resend verification email.|PROCEED";
    QTest::newRow("trial over") << "trial@tovra.test" << "Trial-2026" << QByteArray(R"({"status": "suspended", "is_trial": 1})") << false << "upgrade"
        << "Your TOVRA VPN Trial is over now.|Please PROCEED to your account to activate your subscription.|PROCEED";
    QTest::newRow("padded password signs in") << " active@tovra.test" << " Active-2026 " << QByteArray() << true << "" << "";
    // clang-format on
}

void tst_MainWindowStartup::signIn()
{
    QFETCH(QString, email);
    QFETCH(QString, password);
    QFETCH(QByteArray, plan);
    QFETCH(bool, emailKept);
    QFETCH(QString, action);
    QFETCH(QString, popup);
    if (!plan.isEmpty())
        QVERIFY(m_fixture.provider.script("/users/me/plan", 200, plan));
    start();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 1, kWait);
    QTest::keyClicks(w(QLineEdit, "tovraLoginEmailEdit"), email);
    QTest::keyClick(w(QLineEdit, "tovraLoginEmailEdit"), Qt::Key_Return); // no password yet: nothing
    QTest::keyClicks(w(QLineEdit, "tovraLoginPasswordEdit"), " ");
    QVERIFY(w(QPushButton, "tovraLoginButton")->isEnabled());
    QTest::keyClick(w(QLineEdit, "tovraLoginPasswordEdit"), Qt::Key_Backspace);
    QTest::keyClicks(w(QLineEdit, "tovraLoginPasswordEdit"), password);
    QVERIFY(m_fixture.provider.requests("/auth/email").isEmpty());
    QTest::keyClick(w(QLineEdit, "tovraLoginPasswordEdit"), Qt::Key_Return);

    TovraGenericDialog *dialog = m_window->messageDialog();
    if (popup.isEmpty()) {
        QVERIFY(LogCapture::waitFor("Get local ip", kWait));
        const QByteArray body = m_fixture.lastRequest("/auth/email").value("body").toString().toUtf8();
        QCOMPARE(QJsonDocument::fromJson(body).object(),
                 (QJsonObject{{"email", "active@tovra.test"}, {"password", "Active-2026"}}));
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), kWait);
    QPushButton *button = dialog->findChild<QPushButton *>("primaryButton");
    QCOMPARE(dialog->findChild<QLabel *>("titleLabel")->text() + '|' +
                 dialog->findChild<QLabel *>("textLabel")->text() + '|' + button->text(),
             popup);
    QCOMPARE(view(), 1);
    QCOMPARE(w(QLineEdit, "tovraLoginEmailEdit")->text(), emailKept ? email : QString());
    QVERIFY(w(QLineEdit, "tovraLoginPasswordEdit")->text().isEmpty());
    QVERIFY(!w(QPushButton, "tovraLoginButton")->isEnabled());
    if (action.isEmpty())
        return;
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(action == "account" ? m_window->accountDialog()->isVisible() : !m_fixture.opened.isEmpty(),
                             kWait);
}

// A stored token goes straight to the start-up data and logout ends it; a silent API keeps the token and offers
// Retry; a refused request stops the start-up with the API error screen.
void tst_MainWindowStartup::storedToken_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("answered") << "";
    QTest::newRow("no answer, then Retry") << "silent";
    QTest::newRow("server list refused") << "refused";
}

void tst_MainWindowStartup::storedToken()
{
    QFETCH(QString, fault);
    QVERIFY(writeFile(tokenFile(), ScrambleText("demo-token-active").toLatin1()));
    if (fault == "silent")
        QVERIFY(m_fixture.provider.script(QJsonObject{{"path", "/users/me/plan"}, {"hangup", true}}));
    if (fault == "refused")
        QVERIFY(m_fixture.provider.script("/users/me/servers", 500, "{\"error\": \"down\"}"));
    start();
    if (fault == "refused") {
        QTRY_VERIFY_WITH_TIMEOUT(w(QLabel, "tovraInitSupportTicketLabel")->isVisible(), kWait);
        QVERIFY(!m_window->stateMachine()->isRunning());
        const QString text = w(QLabel, "tovraInitErrorLabel")->text();
        QVERIFY2(text.startsWith("API error occurred with message:\n\"Network error: ") && text.endsWith('"'),
                 qPrintable(text));
        QVERIFY(!w(QPushButton, "tovraInitRetryButton")->isVisible());
        const auto tray = m_window->findChild<QMenu *>(QString(), Qt::FindDirectChildrenOnly)->actions();
        QCOMPARE(tray.size(), 2); // open and quit only
        QTest::qWait(300);
        QVERIFY(m_fixture.provider.requests("/config/openvpn/tcp").isEmpty());
        return;
    }
    if (fault == "silent") {
        QTRY_VERIFY_WITH_TIMEOUT(w(QPushButton, "tovraInitRetryButton")->isVisible(), kWait);
        QVERIFY(w(QLabel, "tovraInitErrorLabel")->text().startsWith("There is no access to TOVRA VPN services."));
        QVERIFY(QFile::exists(tokenFile()));
        QVERIFY(m_fixture.provider.reset()); // the API answers again
        QTest::mouseClick(w(QPushButton, "tovraInitRetryButton"), Qt::LeftButton);
    }
    // The update answer as the status display passes it on.
    QVERIFY(LogCapture::waitFor("Get information about application updates.", kWait));
    emit m_window->UpdateDataReceived();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 3, kWait);
    const QStringList steps = QString("Get login data|Get local ip|Get list of servers|Get openvpn tcp config info|"
                                      "Get information about application updates.|Switching to view: 3")
                                  .split('|');
    QStringList seen; // the last run of the chain, in order
    for (const QString &line : LogCapture::lines())
        if (steps.contains(line))
            seen << line;
    QCOMPARE(seen.mid(seen.size() - steps.size()), steps);
    emit m_window->accountDialog()->LogoutRequested();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 1, kWait);
    QVERIFY(!QFile::exists(tokenFile()));
    QVERIFY(w(QLineEdit, "tovraLoginEmailEdit")->text().isEmpty());
}

// Both outcomes of the reset request: back to the sign-in view, or the view kept usable.
void tst_MainWindowStartup::passwordReset_data()
{
    QTest::addColumn<QString>("email");
    QTest::addColumn<QString>("popup");
    QTest::newRow("known") << "active@tovra.test"
                           << "Password reset requested.|";
    QTest::newRow("unknown") << "nobody@tovra.test"
                             << "Error while requesting password reset.|Please try again later.";
}

void tst_MainWindowStartup::passwordReset()
{
    QFETCH(QString, email);
    QFETCH(QString, popup);
    start();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 1, kWait);
    emit w(QLabel, "tovraLoginForgotPasswordLabel")->linkActivated("forgotPasswordLink");
    QCOMPARE(view(), 2);
    auto *button = w(QPushButton, "tovraPasswordRequestButton");
    QTest::mouseClick(button, Qt::LeftButton); // empty field: nothing
    QTest::keyClicks(w(QLineEdit, "tovraPasswordEmailEdit"), email);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text() + QString::number(button->isEnabled()), QString("REQUEST IS IN PROCESS...0"));
    TovraGenericDialog *dialog = m_window->messageDialog();
    QTRY_VERIFY_WITH_TIMEOUT(dialog->isVisible(), kWait);
    QCOMPARE(dialog->findChild<QLabel *>("titleLabel")->text() + '|' + dialog->findChild<QLabel *>("textLabel")->text(),
             popup);
    QCOMPARE(m_fixture.provider.requests("/auth/reset_password").size(), 1);
    const bool ok = email.startsWith("active");
    QCOMPARE(view(), ok ? 1 : 2);
    if (!ok)
        QVERIFY(button->isEnabled() && button->text() == "REQUEST NEW PASSWORD" &&
                w(QLineEdit, "tovraPasswordEmailEdit")->text().isEmpty());
}

// A business account gets the server options and the lower frames; switching the list refills the picker.
void tst_MainWindowStartup::mainView_data()
{
    QTest::addColumn<QString>("account");
    QTest::newRow("personal") << "active";
    QTest::newRow("business") << "business";
}

void tst_MainWindowStartup::mainView()
{
    QFETCH(QString, account);
    const bool b2b = account == "business";
    start();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 1, kWait);
    QString password = account + "-2026";
    password[0] = password[0].toUpper();
    QTest::keyClicks(w(QLineEdit, "tovraLoginEmailEdit"), account + "@tovra.test");
    QTest::keyClicks(w(QLineEdit, "tovraLoginPasswordEdit"), password);
    QTest::mouseClick(w(QPushButton, "tovraLoginButton"), Qt::LeftButton);
    QVERIFY(LogCapture::waitFor("Get information about application updates.", kWait));
    emit m_window->UpdateDataReceived();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 3, kWait);
    QCOMPARE(w(QFrame, "tovraMainPageServersOptionsFrame")->isVisible(), b2b);
    QCOMPARE(w(QFrame, "tovraMainPageServersFrame")->y(), b2b ? 147 : 131);
    // The map of the account's height, with the band's edge line above it, stands on the footer.
    QCOMPARE(w(QFrame, "tovraMainPageMapFrame")->geometry(), QRect(1, b2b ? 226 : 206, 423, b2b ? 175 : 195));
    if (!b2b)
        return;
    auto *picker = w(QComboBox, "tovraServersBox");
    const auto rows = [picker] {
        QStringList texts;
        for (int i = 0; i < picker->count(); ++i)
            texts << picker->itemText(i);
        return texts;
    };
    const QStringList before = rows();
    const bool wasB2b = AppContext::instance()->config()->b2bServerList;
    QCOMPARE(w(QRadioButton, "tovraMainServersB2bRadioButton")->isChecked(), wasB2b);
    QTest::mouseClick(w(QRadioButton, wasB2b ? "tovraMainServersAllRadioButton" : "tovraMainServersB2bRadioButton"),
                      Qt::LeftButton);
    QVERIFY2(rows() != before, qPrintable(before.join(',')));
    QCOMPARE(picker->currentIndex(), AppContext::instance()->serverManager()->StartIndex());
    QVERIFY(readFile(AppContext::instance()->dataPaths()->settingsFile())
                .contains(QString("<B2bServerList enabled=\"%1\"/>").arg(int(!wasB2b)).toUtf8()));
}

// A second press cancels the browser sign-in and gives back the e-mail sign-in, LOGIN included.
void tst_MainWindowStartup::socialCancel_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("facebook") << "Facebook";
    QTest::newRow("google") << "Google";
}

void tst_MainWindowStartup::socialCancel()
{
    QFETCH(QString, name);
    start();
    QTRY_COMPARE_WITH_TIMEOUT(view(), 1, kWait);
    auto *button = w(QPushButton, "tovraLogin" + name + "Button");
    auto *other = w(QPushButton, name == "Google" ? "tovraLoginFacebookButton" : "tovraLoginGoogleButton");
    const auto inputs = [&] {
        return QString("%1%2%3%4")
            .arg(w(QLineEdit, "tovraLoginEmailEdit")->isEnabled())
            .arg(w(QLineEdit, "tovraLoginPasswordEdit")->isEnabled())
            .arg(other->isEnabled())
            .arg(w(QPushButton, "tovraLoginButton")->isEnabled());
    };
    QTest::keyClicks(w(QLineEdit, "tovraLoginEmailEdit"), "active@tovra.test");
    QTest::keyClicks(w(QLineEdit, "tovraLoginPasswordEdit"), "Active-2026");
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), "CANCEL LOGIN WITH " + name.toUpper());
    QCOMPARE(inputs(), QString("0000"));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->isMinimized() && !m_fixture.opened.isEmpty(), kWait);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(button->text(), "LOGIN WITH " + name.toUpper());
    QCOMPARE(inputs(), QString("1111"));
    QVERIFY(LogCapture::contains("Cancel login with " + name.toLower() + " process"));
    QCOMPARE(AppContext::instance()->config()->loginMethod, name == "Google" ? 2 : 1);
}

QTEST_MAIN(tst_MainWindowStartup)
#include "tst_mainwindow_startup.moc"
