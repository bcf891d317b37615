#include "ui/tovramainwindow.h"
#include "ui_tovramainwindow.h"

#include <QDebug>
#include <QDesktopServices>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QUrl>

#include "api/apipaths.h"
#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "api/tovrafacebookauthmanager.h"
#include "api/tovragoogleauthmanager.h"
#include "api/tovraipmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "guard/tovraservicemanager.h"
#include "servers/tovraservermanager.h"
#include "ui/placement.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovrasettingsdialog.h"
#include "ui/tovrasocialbutton.h"
#include "ui/tovrawelcomedialog.h"
#include "vpn/openvpnmanager.h"

namespace {

enum View { StartView = 0, LoginView = 1, PasswordView = 2, MainView = 3 };

void log(const QString &line)
{
    qDebug().noquote() << line;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString link(const QString &target, const QString &colour, const QString &text)
{
    return QStringLiteral("<a href=\"%1\" style=\"color: %2;\">%3</a>").arg(target, colour, text);
}

// Qt 5 style sheets cannot colour placeholder text and reset the palette whenever they polish a widget, so the
// colour goes into the palette again after each polish and style change.
class PlaceholderColour : public QObject
{
public:
    using QObject::QObject;

    static void apply(QWidget *widget)
    {
        const QColor colour(162, 175, 190);
        QPalette palette = widget->palette();
        if (palette.color(QPalette::PlaceholderText) == colour)
            return;
        palette.setColor(QPalette::PlaceholderText, colour);
        widget->setPalette(palette);
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if ((event->type() == QEvent::Polish || event->type() == QEvent::StyleChange) && watched->isWidgetType())
            apply(static_cast<QWidget *>(watched));
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

void TovraMainWindow::setStartupNetworkChecks(std::function<bool()> internet, std::function<bool()> api)
{
    m_internetCheck = internet ? std::move(internet) : [] { return IsInternetConnected(); };
    m_apiCheck = api ? std::move(api) : [] { return CheckActiveNetwork(); };
}

void TovraMainWindow::connectStartupFlow()
{
    setStartupNetworkChecks(nullptr, nullptr);
    m_settingsDialog = new TovraSettingsDialog(this);
    m_settingsDialog->setWindowFlags(m_settingsDialog->windowFlags() | Qt::Window);
    m_accountDialog = new TovraAccountDialog(this);
    m_accountDialog->setWindowFlags(m_accountDialog->windowFlags() | Qt::Window);

    ui->tovraInitSupportTicketLabel->setText(
        link(QStringLiteral("supportTicketLink"), QStringLiteral("#5b7178"), tr("Send support ticket")));
    ui->tovraLoginFacebookButton->setText(tr("LOGIN WITH FACEBOOK"));
    ui->tovraLoginGoogleButton->setText(tr("LOGIN WITH GOOGLE"));
    ui->tovraLoginFacebookButton->SetPixmap(QPixmap(QStringLiteral(":/main/resources/main/FacebookIcon.png")));
    ui->tovraLoginGoogleButton->SetPixmap(QPixmap(QStringLiteral(":/main/resources/main/GoogleIcon.png")));
    ui->tovraLoginEmailEdit->setPlaceholderText(tr("Email address"));
    ui->tovraLoginPasswordEdit->setPlaceholderText(tr("Password"));
    ui->tovraLoginPasswordEdit->setEchoMode(QLineEdit::Password);
    ui->tovraLoginForgotPasswordLabel->setText(
        link(QStringLiteral("forgotPasswordLink"), QStringLiteral("#a2afbe"), tr("Forgot your password?")));
    ui->tovraLoginNewAccountTextLabel->setText(tr("Don't have an account?"));
    ui->tovraLoginNewAccountLinkLabel->setText(
        link(QStringLiteral("signupLink"), QStringLiteral("#a2afbe"), tr("Sign up")));
    ui->tovraPasswordCaptionLabel->setText(tr("FORGOT YOUR PASSWORD?"));
    ui->tovraPasswordTextLabel->setText(
        tr("Forgot your password? Enter your email address below to begin the reset process."));
    ui->tovraPasswordEmailEdit->setPlaceholderText(tr("Enter your email"));
    ui->tovraPasswordRequestButton->setText(tr("REQUEST NEW PASSWORD"));
    auto *placeholderColour = new PlaceholderColour(this);
    for (QLineEdit *edit : {ui->tovraLoginEmailEdit, ui->tovraLoginPasswordEdit, ui->tovraPasswordEmailEdit}) {
        placeholderColour->apply(edit);
        edit->installEventFilter(placeholderColour);
    }
    ui->tovraInitErrorLabel->setWordWrap(true);
    ui->tovraInitErrorLabel->hide();
    ui->tovraInitRetryButton->hide();
    ui->tovraInitSupportTicketLabel->hide();

    for (QLineEdit *edit : {ui->tovraLoginEmailEdit, ui->tovraLoginPasswordEdit}) {
        connect(edit, &QLineEdit::textChanged, this, &TovraMainWindow::OnLoginDataChanged);
        connect(edit, &QLineEdit::returnPressed, this, &TovraMainWindow::OnLoginEnterPressed);
    }
    connect(ui->tovraLoginButton, &QPushButton::clicked, this, &TovraMainWindow::OnLoginButtonPressed);
    connect(ui->tovraLoginFacebookButton, &QPushButton::clicked, this,
            &TovraMainWindow::OnLoginViaFacebookButtonPressed);
    connect(ui->tovraLoginGoogleButton, &QPushButton::clicked, this, &TovraMainWindow::OnLoginViaGoogleButtonPressed);
    for (QLabel *label : {ui->tovraLoginForgotPasswordLabel, ui->tovraLoginNewAccountLinkLabel,
                          ui->tovraInitSupportTicketLabel, ui->tovraMainProtocolLabel})
        connect(label, &QLabel::linkActivated, this, &TovraMainWindow::OnLinkActivated);
    connect(ui->tovraPasswordCloseButton, &QPushButton::clicked, this, &TovraMainWindow::OnForgotPasswordClosePressed);
    connect(ui->tovraPasswordRequestButton, &QPushButton::clicked, this,
            &TovraMainWindow::OnForgotPasswordRequestPressed);
    connect(ui->tovraInitRetryButton, &QPushButton::clicked, this, &TovraMainWindow::OnRetryButtonPressed);
    connect(ui->tovraCurrentView, &QStackedWidget::currentChanged, this, &TovraMainWindow::OnCurrentViewIndexChanged);

    AppContext *context = AppContext::instance();
    TovraApiManager *api = context->apiManager();
    connect(api, &TovraApiManager::ApiErrorOccurred, this, &TovraMainWindow::OnApiErrorOccurred);
    connect(context->authManager(), &TovraAuthManager::UserDataReceived, this, &TovraMainWindow::OnUserLoginFinished);
    connect(context->ipManager(), &TovraIpManager::LocalIpDataReceived, this, &TovraMainWindow::OnLocalIpCheckFinished);
    connect(api, &TovraApiManager::OpenVpnTcpConfigUpdated, this, &TovraMainWindow::OnOpenVpnTcpConfigFinished);
    connect(api, &TovraApiManager::OpenVpnUdpConfigUpdated, this, &TovraMainWindow::OnOpenVpnUdpConfigFinished);
    connect(api, &TovraApiManager::PasswordResetRequestSent, this, &TovraMainWindow::OnForgotPasswordRequestFinished);
    TovraFacebookAuthManager *facebook = context->facebookAuthManager();
    connect(facebook, &TovraFacebookAuthManager::LoginViaFacebookFinished, this,
            &TovraMainWindow::OnLoginViaFacebookFinished);
    connect(facebook, &TovraFacebookAuthManager::LoginViaFacebookFailed, this,
            &TovraMainWindow::OnLoginViaFacebookFailed);
    TovraGoogleAuthManager *google = context->googleAuthManager();
    connect(google, &TovraGoogleAuthManager::LoginViaGoogleFinished, this, &TovraMainWindow::OnLoginViaGoogleFinished);
    connect(google, &TovraGoogleAuthManager::LoginViaGoogleFailed, this, &TovraMainWindow::OnLoginViaGoogleFailed);
    connect(m_settingsDialog, &TovraSettingsDialog::LogoutRequested, this, &TovraMainWindow::Logout);
    connect(m_accountDialog, &TovraAccountDialog::LogoutRequested, this, &TovraMainWindow::Logout);
}

void TovraMainWindow::Initialize()
{
    if (m_stateMachine.isRunning())
        return;
    log(QStringLiteral("Initialization started."));
    DetectScreenDensity();
    m_connectionState = StateInitializing;
    ui->tovraCurrentView->setCurrentIndex(StartView);
    if (!IsWelcomeGuideAlreadyShown()) {
        if (!m_welcomeDialog) {
            m_welcomeDialog = new TovraWelcomeDialog(this);
            m_welcomeDialog->setWindowFlags(m_welcomeDialog->windowFlags() | Qt::Window);
        }
        MoveCentredOn(m_welcomeDialog, frameGeometry());
        m_welcomeDialog->show();
    }
    LiftStaleGuard();
    m_stateMachine.start();
}

void TovraMainWindow::DetectScreenDensity()
{
    const QScreen *screen = QGuiApplication::screenAt(pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const qreal ratio = screen ? screen->devicePixelRatio() : 1.0;
    const bool high = ratio >= 2.0;
    AppContext::instance()->config()->highDpiScreen = high;
    log(QStringLiteral("Device pixel ratio: %1 %2")
            .arg(ratio)
            .arg(high ? QStringLiteral("(High-DPI screen detected)")
                      : QStringLiteral("(Regular-DPI screen detected)")));
}

void TovraMainWindow::GetLoginData()
{
    m_connectionState = StateInitializing;
    ui->tovraInitErrorLabel->hide();
    ui->tovraInitRetryButton->hide();
    ui->tovraInitSupportTicketLabel->hide();
    ui->tovraInitTextLabel->show();
    ui->tovraCurrentView->setCurrentIndex(StartView);

    // Both checks again, with the network-state line; the machine's own answer is kept for the error text.
    bool network = false;
    const auto check = [this, &network] {
        network = m_internetCheck();
        const bool api = m_apiCheck();
        log(QStringLiteral("Network state: ") + boolText(network) + QStringLiteral(" Api access: ") + boolText(api));
        return network && api;
    };

    bool found = check();
    if (!found) {
        log(QStringLiteral("No active internet connection found, waiting interval set to 15 seconds by default."));
        const int waitingTime = ReadNetworkWaitInterval(AppContext::instance()->dataPaths()->intervalFile());
        for (int counter = 0;;) {
            if (check()) {
                log(QStringLiteral("Active network connection is found."));
                found = true;
                break;
            }
            ++counter;
            log(QStringLiteral("Active network connection not found. Next check in 1 second."));
            QEventLoop loop;
            QTimer pause;
            pause.setSingleShot(true);
            connect(&pause, &QTimer::timeout, &loop, &QEventLoop::quit);
            pause.start(m_timings.startupCheckInterval);
            loop.exec();
            if (counter >= waitingTime)
                break;
        }
    }
    // The machine may have been stopped (an API error) or moved on while the wait ran.
    if (!m_stateMachine.isRunning() || !m_stateMachine.configuration().contains(m_loginState))
        return;

    if (!found) {
        log(QStringLiteral("No active internet connection found"));
        ShowStartError(network ? tr("There is no access to TOVRA VPN services. Please check your network connection "
                                    "and click Retry.")
                               : tr("There is no active Internet connection. Please check your network connection "
                                    "and click Retry."),
                       true);
        return;
    }
    log(QStringLiteral("Get login data"));
    TovraAuthManager *auth = AppContext::instance()->authManager();
    if (auth->LoadToken()) {
        m_storedTokenCheck = true;
        auth->RequestUserData();
        return;
    }
    ShowLoginView(true);
}

void TovraMainWindow::OnRetryButtonPressed()
{
    GetLoginData();
}

void TovraMainWindow::ShowStartError(const QString &text, bool retry)
{
    ui->tovraCurrentView->setCurrentIndex(StartView);
    ui->tovraInitTextLabel->hide();
    ui->tovraInitErrorLabel->setText(text);
    ui->tovraInitErrorLabel->show();
    ui->tovraInitRetryButton->setVisible(retry);
    ui->tovraInitSupportTicketLabel->setVisible(!retry);
}

void TovraMainWindow::ShowLoginView(bool clearEmail)
{
    if (clearEmail)
        ui->tovraLoginEmailEdit->clear();
    ui->tovraLoginPasswordEdit->clear();
    ui->tovraLoginButton->setEnabled(false);
    ui->tovraCurrentView->setCurrentIndex(LoginView);
}

void TovraMainWindow::OnLoginDataChanged(QString)
{
    ui->tovraLoginButton->setEnabled(!ui->tovraLoginEmailEdit->text().isEmpty() &&
                                     !ui->tovraLoginPasswordEdit->text().isEmpty());
}

void TovraMainWindow::OnLoginEnterPressed()
{
    if (!ui->tovraLoginEmailEdit->text().isEmpty() && !ui->tovraLoginPasswordEdit->text().isEmpty())
        ui->tovraLoginButton->click();
}

void TovraMainWindow::OnLoginButtonPressed()
{
    Configuration *config = AppContext::instance()->config();
    config->loginMethod = LoginEmail;
    config->SaveSettings();
    log(QStringLiteral("Checking user credentials"));
    m_storedTokenCheck = false;
    AppContext::instance()->authManager()->LoginEmail(ui->tovraLoginEmailEdit->text().trimmed(),
                                                      ui->tovraLoginPasswordEdit->text().trimmed());
    ui->tovraCurrentView->setCurrentIndex(StartView);
}

void TovraMainWindow::OnLinkActivated(QString link)
{
    log(QStringLiteral("Link clicked: ") + link);
    if (link == QLatin1String("signupLink"))
        QDesktopServices::openUrl(QUrl(BuildConstants::signUpUrl()));
    else if (link == QLatin1String("forgotPasswordLink"))
        OnForgotPasswordPressed();
    else if (link == QLatin1String("protocolLink"))
        OpenProtocolSettings();
    else if (link == QLatin1String("supportTicketLink"))
        OnSendTicketRequested();
    else
        QDesktopServices::openUrl(QUrl(link));
}

void TovraMainWindow::OnUserLoginFinished(TovraAuthManager::eAuthResults result)
{
    m_storedTokenCheck = false;
    const Configuration *config = AppContext::instance()->config();
    const TovraUserData &user = AppContext::instance()->authManager()->userData();
    switch (result) {
    case TovraAuthManager::AuthSuccess: {
        QString loginText = user.email;
        if (config->loginMethod == LoginFacebook)
            loginText = tr("logged in with Facebook");
        else if (config->loginMethod == LoginGoogle)
            loginText = tr("logged in with Google");
        m_accountDialog->SetAccountText(loginText);
        m_settingsDialog->SetLoginText(loginText);
        emit UserDataReceived();
        return;
    }
    case TovraAuthManager::AuthFailed:
        ShowLoginView(false);
        if (config->loginMethod == LoginFacebook)
            ShowPopup(tr("We were unable to find an account with the provided Facebook id."),
                      tr("Please register with Facebook on TOVRA VPN portal."), tr("OK"));
        else if (config->loginMethod == LoginGoogle)
            ShowPopup(tr("We were unable to find an account with the provided Google id."),
                      tr("Please register with Google on TOVRA VPN portal."), tr("OK"));
        else
            ShowPopup(tr("Invalid email address or password specified."), tr("Please try again."), tr("OK"));
        return;
    case TovraAuthManager::AuthAccountInactive:
        ShowLoginView(true);
        if (user.isTrial && user.status != QLatin1String("PENDING")) {
            ShowPopup(tr("Your TOVRA VPN Trial is over now."),
                      tr("Please PROCEED to your account to activate your subscription."), tr("PROCEED"));
            connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this,
                    &TovraMainWindow::OnUpgradeAccountButtonPressed);
            return;
        }
        ShowPopup(QString(),
                  user.isTrial
                      ? tr("It appears that you didn't verify your email yet for your TOVRA VPN Trial. Please check "
                           "your email in order to activate your Trial account.\nOr PROCEED to your account to resend "
                           "verification email.")
                      : tr("Sorry, we couldn't find any active subscription associated with this account.\nPlease "
                           "PROCEED to your account to reactivate your subscription."),
                  tr("PROCEED"));
        connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this, &TovraMainWindow::OnAccountButtonPressed);
        return;
    case TovraAuthManager::AuthIpBlacklisted:
        ShowLoginView(false);
        ShowPopup(tr("IP address blocked."),
                  tr("There are too many failed login attempts from your IP address. Please contact support via our "
                     "website."),
                  tr("Quit"));
        connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, QCoreApplication::instance(),
                &QCoreApplication::quit);
        return;
    }
}

void TovraMainWindow::OnForgotPasswordPressed()
{
    ui->tovraPasswordRequestButton->setText(tr("REQUEST NEW PASSWORD"));
    ui->tovraPasswordRequestButton->setEnabled(true);
    ui->tovraPasswordEmailEdit->clear();
    ui->tovraPasswordEmailEdit->setEnabled(true);
    ui->tovraCurrentView->setCurrentIndex(PasswordView);
    ui->tovraPasswordEmailEdit->setFocus();
}

void TovraMainWindow::OnForgotPasswordClosePressed()
{
    ui->tovraCurrentView->setCurrentIndex(LoginView);
}

void TovraMainWindow::OnForgotPasswordRequestPressed()
{
    if (ui->tovraPasswordEmailEdit->text().isEmpty())
        return;
    ui->tovraPasswordRequestButton->setText(tr("REQUEST IS IN PROCESS..."));
    ui->tovraPasswordRequestButton->setEnabled(false);
    ui->tovraPasswordEmailEdit->setEnabled(false);
    AppContext::instance()->apiManager()->ResetPassword(ui->tovraPasswordEmailEdit->text());
}

void TovraMainWindow::OnForgotPasswordRequestFinished(bool result)
{
    if (result) {
        ShowPopup(tr("Password reset requested."), QString(), tr("OK"));
        ui->tovraCurrentView->setCurrentIndex(LoginView);
        return;
    }
    ShowPopup(tr("Error while requesting password reset."), tr("Please try again later."), tr("OK"));
    ui->tovraPasswordRequestButton->setText(tr("REQUEST NEW PASSWORD"));
    ui->tovraPasswordRequestButton->setEnabled(true);
    ui->tovraPasswordEmailEdit->clear();
    ui->tovraPasswordEmailEdit->setEnabled(true);
}

void TovraMainWindow::SetOtherLoginInputsEnabled(bool enabled, QWidget *socialButton)
{
    ui->tovraLoginEmailEdit->setEnabled(enabled);
    ui->tovraLoginPasswordEdit->setEnabled(enabled);
    socialButton->setEnabled(enabled);
    if (enabled)
        OnLoginDataChanged(QString());
    else
        ui->tovraLoginButton->setEnabled(false);
}

void TovraMainWindow::ResetSocialButtons()
{
    ui->tovraLoginFacebookButton->setText(tr("LOGIN WITH FACEBOOK"));
    ui->tovraLoginGoogleButton->setText(tr("LOGIN WITH GOOGLE"));
    ui->tovraLoginFacebookButton->setEnabled(true);
    ui->tovraLoginGoogleButton->setEnabled(true);
    ui->tovraLoginEmailEdit->setEnabled(true);
    ui->tovraLoginPasswordEdit->setEnabled(true);
    OnLoginDataChanged(QString());
}

void TovraMainWindow::ToggleSocialLogin(bool facebook)
{
    AppContext *context = AppContext::instance();
    bool &inProgress = facebook ? m_facebookLoginInProgress : m_googleLoginInProgress;
    QPushButton *button = facebook ? ui->tovraLoginFacebookButton : ui->tovraLoginGoogleButton;
    QWidget *other = facebook ? ui->tovraLoginGoogleButton : ui->tovraLoginFacebookButton;
    const QString name = facebook ? QStringLiteral("facebook") : QStringLiteral("google");
    if (inProgress) {
        log(QStringLiteral("Cancel login with ") + name + QStringLiteral(" process"));
        inProgress = false;
        if (facebook)
            context->facebookAuthManager()->CancelLoginViaFacebook();
        else
            context->googleAuthManager()->CancelLoginViaGoogle();
        button->setText(facebook ? tr("LOGIN WITH FACEBOOK") : tr("LOGIN WITH GOOGLE"));
        SetOtherLoginInputsEnabled(true, other);
        return;
    }
    log(QStringLiteral("Starting login with ") + name + QStringLiteral(" process"));
    inProgress = true;
    button->setText(facebook ? tr("CANCEL LOGIN WITH FACEBOOK") : tr("CANCEL LOGIN WITH GOOGLE"));
    SetOtherLoginInputsEnabled(false, other);
    Configuration *config = context->config();
    config->loginMethod = facebook ? LoginFacebook : LoginGoogle;
    config->SaveSettings();
    m_storedTokenCheck = false;
    ui->MinimizeButton->click();
    if (!isMinimized())
        showMinimized();
    if (facebook)
        context->facebookAuthManager()->LoginViaFacebook();
    else
        context->googleAuthManager()->LoginViaGoogle();
}

void TovraMainWindow::EndSocialLogin(bool facebook, bool failed)
{
    (facebook ? m_facebookLoginInProgress : m_googleLoginInProgress) = false;
    if (failed)
        log(facebook ? QStringLiteral("Login with facebook failed") : QStringLiteral("Login with google failed"));
    ResetSocialButtons();
    showNormal();
    raise();
    activateWindow();
    if (!failed) {
        ui->tovraCurrentView->setCurrentIndex(StartView);
        return;
    }
    ShowPopup(facebook ? tr("Unfortunately login with Facebook failed.")
                       : tr("Unfortunately login with Google failed."),
              tr("Please try again or contact our support."), tr("OK"));
}

void TovraMainWindow::OnLoginViaFacebookButtonPressed()
{
    ToggleSocialLogin(true);
}

void TovraMainWindow::OnLoginViaFacebookFinished()
{
    EndSocialLogin(true, false);
}

void TovraMainWindow::OnLoginViaFacebookFailed()
{
    EndSocialLogin(true, true);
}

void TovraMainWindow::OnLoginViaGoogleButtonPressed()
{
    ToggleSocialLogin(false);
}

void TovraMainWindow::OnLoginViaGoogleFinished()
{
    EndSocialLogin(false, false);
}

void TovraMainWindow::OnLoginViaGoogleFailed()
{
    EndSocialLogin(false, true);
}

void TovraMainWindow::GetLocalIp()
{
    log(QStringLiteral("Get local ip"));
    AppContext::instance()->ipManager()->RequestLocalIp();
}

void TovraMainWindow::OnLocalIpCheckFinished()
{
    emit LocalIpUpdated();
}

void TovraMainWindow::GetServersList()
{
    log(QStringLiteral("Get list of servers"));
    AppContext::instance()->apiManager()->GetServerList();
}

void TovraMainWindow::GetOpenVpnConfig()
{
    log(QStringLiteral("Get openvpn tcp config info"));
    AppContext::instance()->apiManager()->GetOpenVpnTcpConfig();
}

void TovraMainWindow::OnOpenVpnTcpConfigFinished(QString configData)
{
    m_openVpnManager->tcpConfig = configData;
    emit OpenVpnConfigUpdated();
}

void TovraMainWindow::OnOpenVpnUdpConfigFinished(QString configData)
{
    m_openVpnManager->udpConfig = configData;
    emit OpenVpnConfigUpdated();
}

void TovraMainWindow::GetUpdateDataOnStart()
{
    log(QStringLiteral("Get information about application updates."));
    m_updateCheckOnStart = true;
    AppContext::instance()->apiManager()->GetUpdateData();
}

void TovraMainWindow::SetUpMainView()
{
    SetSecuredStatus(false);
    ui->tovraCancelConnectButton->hide();

    const Configuration *config = AppContext::instance()->config();
    QRadioButton *b2b = ui->tovraMainServersB2bRadioButton;
    QRadioButton *other = ui->tovraMainServersAllRadioButton;
    // The map (its band's edge line, then the image the map service draws for the account) stands on the footer;
    // the picker keeps the same distance above it.
    const bool isB2b = AppContext::instance()->authManager()->userData().isB2b;
    const int mapHeight = 1 + (isB2b ? ApiPaths::MapHeightB2b : ApiPaths::MapHeight);
    const int footer = ui->tovraMainPageBottomFrame->y() - 1;
    ui->tovraMainPageMapFrame->setGeometry(1, footer - mapHeight, ui->tovraMainPageBottomFrame->width() - 2, mapHeight);
    ui->tovraMainPageServersFrame->move(0, footer - mapHeight - (isB2b ? 79 : 75));
    if (!isB2b) {
        ui->tovraMainPageServersOptionsFrame->hide();
        return;
    }
    ui->tovraMainPageServersOptionsFrame->show();
    b2b->disconnect(this);
    other->disconnect(this);
    (config->b2bServerList ? b2b : other)->setChecked(true);
    connect(b2b, &QRadioButton::toggled, this, &TovraMainWindow::OnServersOptionsChanged);
    connect(other, &QRadioButton::toggled, this, &TovraMainWindow::OnServersOptionsChanged);
}

void TovraMainWindow::ShowMainView()
{
    Configuration *config = AppContext::instance()->config();
    if (AppContext::instance()->authManager()->userData().isB2b) {
        m_reviewSettled = true;
        m_inviteSettled = true;
    } else {
        config->LoadPopupState();
        m_reviewSettled = config->reviewShown;
        m_inviteSettled = config->inviteShown;
    }
    ui->tovraCurrentView->setCurrentIndex(MainView);
    if (config->autoConnect)
        QTimer::singleShot(m_timings.autoConnectDelay, ui->tovraConnectButton, &QPushButton::click);
}

void TovraMainWindow::OnServersOptionsChanged(bool isChecked)
{
    if (!isChecked)
        return;
    AppContext *context = AppContext::instance();
    context->config()->b2bServerList = ui->tovraMainServersB2bRadioButton->isChecked();
    context->config()->SaveSettings();
    context->serverManager()->ApplyMainList();
    InitializeServers();
}

void TovraMainWindow::OnApiErrorOccurred(QString errorMessage)
{
    // A stored token whose check got no HTTP answer is not refused: back to the network wait and its Retry.
    if (m_storedTokenCheck && AppContext::instance()->apiManager()->userDataUnanswered() &&
        m_stateMachine.configuration().contains(m_loginState)) {
        m_storedTokenCheck = false;
        log(QStringLiteral("No answer to the user data request, the stored token is kept"));
        ShowStartError(
            tr("There is no access to TOVRA VPN services. Please check your network connection and click Retry."),
            true);
        return;
    }
    log(QStringLiteral("Tovra initialization failed. Show error message."));
    m_stateMachine.stop();
    BuildTrayMenu(false);
    ShowStartError(tr("API error occurred with message:\n\"%1\"").arg(errorMessage), false);
}

void TovraMainWindow::OnCurrentViewIndexChanged(int index)
{
    log(QStringLiteral("Switching to view: ") + QString::number(index));
    ui->centralWidget->setStyleSheet(
        index == MainView
            ? QStringLiteral("QWidget#centralWidget {image: url(:/main/resources/main/MainFormBackground.png);}")
            : QStringLiteral("QWidget#centralWidget {image: url(:/main/resources/main/CommonFormBackground.png);}"));
}

void TovraMainWindow::Logout()
{
    // A tunnel being set up uses the token too, and the workflow cannot restart from there.
    if (m_connectionState == StateConnected || m_connectionState == StateConnecting) {
        ShowPopup(tr("You cannot logout while TOVRA VPN is connected."), QString(), tr("OK"));
        return;
    }
    log(QStringLiteral("Logging out"));
    if (!AppContext::instance()->authManager()->DeleteToken())
        return;
    Configuration *config = AppContext::instance()->config();
    config->loginMethod = LoginEmail;
    config->SaveSettings();
    m_bandwidthCheckTimer.stop();
    // A guard still held after a drop would keep the sign-in off the network; signed out, nothing is left to guard.
    if (m_dnsFiltersAdded)
        m_serviceManager->RemoveDnsFilters();
    if (m_gatewayDeleted)
        m_serviceManager->RestoreGateway();
    emit RestartWorkflow();
}
