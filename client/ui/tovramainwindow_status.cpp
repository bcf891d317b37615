// The main window's frame, tray, reminder, traffic figures and notices, popups, update check and map.
#include "ui/tovramainwindow.h"
#include "ui_tovramainwindow.h"

#include <QAction>
#include <QCursor>
#include <QDebug>
#include <QDesktopServices>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QUrl>

#include "api/tovraapimanager.h"
#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "ui/placement.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovrasettingsdialog.h"
#include "ui/windowdrag.h"
#include "vpn/ikev2manager.h"
#include "vpn/openvpnmanager.h"

namespace {

const QString kDefaultMap = QStringLiteral(":/map/resources/map/DefaultMap.png");
const QString kDefaultMapB2b = QStringLiteral(":/map/resources/map/DefaultMapB2B.png");

// Strips of the frameless window that move it when dragged.
constexpr int kDragEdge = 9;
constexpr int kDragTopBand = 63;

void log(const QString &line)
{
    qDebug().noquote() << line;
}

QList<qint64> versionParts(const QString &version)
{
    const QStringList texts = version.split(QLatin1Char('.'));
    QList<qint64> parts;
    for (int i = 0; i < 4; ++i)
        parts << texts.value(i).trimmed().toLongLong(); // 0 when missing or not a number
    return parts;
}

} // namespace

bool IsNewerVersion(const QString &current, const QString &received)
{
    const QList<qint64> have = versionParts(current);
    const QList<qint64> got = versionParts(received);
    for (int i = 0; i < 4; ++i) {
        if (got[i] != have[i])
            return got[i] > have[i];
    }
    return false;
}

void TovraMainWindow::connectStatusDisplay()
{
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    setWindowTitle(QStringLiteral("TOVRA VPN"));
    new WindowDrag(this, [this](const QPoint &pos) {
        const QSize size = ui->centralWidget->size();
        return pos.x() <= kDragEdge || pos.x() >= size.width() - kDragEdge || pos.y() <= kDragTopBand ||
               pos.y() >= size.height() - kDragEdge;
    });
    m_trayCheck = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };

    m_settingsDialog->SetVersionText(QStringLiteral("v. %1").arg(FormatVersion(ReadAppVersion())));
    connect(m_settingsDialog, &TovraSettingsDialog::LanguageChanged, this, &TovraMainWindow::RetranslateUI);
    connect(m_settingsDialog, &TovraSettingsDialog::BannerUpgradeRequested, this,
            &TovraMainWindow::OnUpgradeAccountButtonPressed);
    connect(m_settingsDialog, &TovraSettingsDialog::BannerInviteRequested, this,
            &TovraMainWindow::OnInviteFriendsButtonPressed);
    connect(m_settingsDialog, &TovraSettingsDialog::ConfigurationUpdated, this, &TovraMainWindow::ApplyConfiguration);

    connect(ui->CloseButton, &QPushButton::clicked, this, &TovraMainWindow::OnClose);
    connect(ui->MinimizeButton, &QPushButton::clicked, this, &TovraMainWindow::OnMinimize);
    connect(ui->tovraMainSettingsButton, &QPushButton::clicked, this, &TovraMainWindow::OnSettingsButtonPressed);
    connect(ui->tovraMainAccountButton, &QPushButton::clicked, this, &TovraMainWindow::OnAccountButtonPressed);

    TovraApiManager *api = AppContext::instance()->apiManager();
    connect(api, &TovraApiManager::UpdateDataReceived, this, &TovraMainWindow::OnUpdateDataReceived);
    connect(api, &TovraApiManager::MapImageReceived, this, &TovraMainWindow::UpdateMapImage);

    m_reminderTimer.setSingleShot(false);
    connect(&m_reminderTimer, &QTimer::timeout, this, &TovraMainWindow::ShowReminder);

    m_openAction = new QAction(tr("Open TOVRA VPN"), this);
    m_quitAction = new QAction(tr("Quit TOVRA VPN"), this);
    connect(m_settingsAction, &QAction::triggered, this, &TovraMainWindow::OnSystraySettingsClicked);
    connect(m_accountAction, &QAction::triggered, this, &TovraMainWindow::OnSystrayAccountClicked);
    connect(m_updatesAction, &QAction::triggered, this, &TovraMainWindow::OnSystrayCheckForUpdatesClicked);
    connect(m_openAction, &QAction::triggered, this, &TovraMainWindow::OnOpen);
    connect(m_quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);
    m_trayMenu = new QMenu(this);
    QFont font = m_trayMenu->font();
    font.setPixelSize(14);
    m_trayMenu->setFont(font);
    BuildTrayMenu(true);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TovraMainWindow::OnSystrayIconActivated);
    m_trayIcon->show();
}

void TovraMainWindow::BuildTrayMenu(bool full)
{
    m_trayMenu->clear();
    if (full) {
        m_trayMenu->addAction(m_settingsAction);
        m_trayMenu->addAction(m_accountAction);
        m_trayMenu->addSeparator();
        m_trayMenu->addAction(m_updatesAction);
        m_trayMenu->addSeparator();
    }
    m_trayMenu->addAction(m_openAction);
    m_trayMenu->addAction(m_quitAction);
}

// ---- window ---------------------------------------------------------------------------------------------------

void TovraMainWindow::OnMinimize()
{
    repaint();
    showMinimized();
}

void TovraMainWindow::OnClose()
{
    if (!AppContext::instance()->config()->minimizeToTray) {
        QCoreApplication::quit();
        return;
    }
    // Hidden without a tray, the window could not be brought back.
    if (!m_trayCheck()) {
        log(QStringLiteral("No system tray available. App minimized instead of hidden to tray"));
        showMinimized();
        return;
    }
    log(QStringLiteral("App minimized to tray"));
    hide();
    SetReminder(true);
}

void TovraMainWindow::OnOpen()
{
    log(QStringLiteral("App restored from tray"));
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    activateWindow();
    raise();
    SetReminder(false);
}

void TovraMainWindow::BringBack()
{
    if (isMinimized()) {
        showNormal();
        raise();
        activateWindow();
    } else {
        OnOpen();
    }
}

void TovraMainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange) {
        if (isMinimized()) {
            log(QStringLiteral("App minimized"));
        } else {
            log(QStringLiteral("App restored"));
            repaint();
            SetReminder(false);
        }
    }
    QMainWindow::changeEvent(event);
}

// ---- tray -----------------------------------------------------------------------------------------------------

void TovraMainWindow::OnSystrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        m_trayMenu->activateWindow();
        m_trayMenu->popup(QCursor::pos());
        break;
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        if (isMinimized()) {
            showNormal();
            raise();
            activateWindow();
        } else if (isHidden()) {
            OnOpen();
        } else {
            OnClose();
        }
        break;
    default:
        break;
    }
}

void TovraMainWindow::OnSystraySettingsClicked()
{
    log(QStringLiteral("Settings link clicked from systray menu"));
    BringBack();
    OnSettingsButtonPressed();
}

void TovraMainWindow::OnSystrayAccountClicked()
{
    log(QStringLiteral("Account link clicked from systray menu"));
    BringBack();
    OnAccountButtonPressed();
}

void TovraMainWindow::OnSystrayCheckForUpdatesClicked()
{
    log(QStringLiteral("CheckForUpdates link clicked from systray menu"));
    BringBack();
    GetUpdateData();
}

// ---- dialogs and portal links ---------------------------------------------------------------------------------

void TovraMainWindow::OnSettingsButtonPressed()
{
    const QScreen *screen = QGuiApplication::screenAt(geometry().center());
    const QRect area = (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry();
    m_settingsDialog->SetMainWindowGeometry(geometry(), area.x() + area.width());
    m_settingsDialog->show();
    m_settingsDialog->SetCurrentTab(0);
}

void TovraMainWindow::OnAccountButtonPressed()
{
    const QScreen *screen = QGuiApplication::screenAt(geometry().center());
    const QRect area = (screen ? screen : QGuiApplication::primaryScreen())->availableGeometry();
    m_accountDialog->SetMainWindowGeometry(geometry(), area.x() + area.width());
    m_accountDialog->show();
}

void TovraMainWindow::OpenProtocolSettings()
{
    log(QStringLiteral("Protocol link pressed. Open VPN Protocol tab in Settings"));
    OnSettingsButtonPressed();
    m_settingsDialog->SetCurrentTab(2);
}

void TovraMainWindow::OnUpgradeAccountButtonPressed()
{
    log(QStringLiteral("Upgrade account button pressed"));
    AppContext::instance()->apiManager()->OpenUpgradeUrl();
}

void TovraMainWindow::OnInviteFriendsButtonPressed()
{
    log(QStringLiteral("InviteFriends ad banner button pressed. Redirect user to share page on portal"));
    AppContext::instance()->apiManager()->GetUserAutoAuthUrl(QStringLiteral("?goto=share.php"));
}

void TovraMainWindow::OnSendTicketRequested()
{
    log(QStringLiteral("Ticket button pressed on api error screen. Sending ticket without network information."));
    ui->tovraInitSupportTicketLabel->setText(tr("Collecting debug data..."));
    TovraApiManager *api = AppContext::instance()->apiManager();
    connect(api, &TovraApiManager::SupportTicketFinished, this, &TovraMainWindow::OnSendTicketFinished,
            Qt::UniqueConnection);
    api->SendSupportTicket(false);
}

void TovraMainWindow::OnSendTicketFinished(bool ok, const QString &ticketUrl)
{
    disconnect(AppContext::instance()->apiManager(), &TovraApiManager::SupportTicketFinished, this,
               &TovraMainWindow::OnSendTicketFinished);
    if (!ok) {
        ui->tovraInitSupportTicketLabel->setText(tr("Support ticket error has occurred, please contact support."));
        return;
    }
    ui->tovraInitSupportTicketLabel->setText(tr("Support ticket has been created."));
    OpenWebLink(ticketUrl);
}

void TovraMainWindow::OpenWebLink(const QString &link)
{
    const QUrl url(link);
    if (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")) {
        log(QStringLiteral("Link is not a web address. Not opened: ") + link);
        return;
    }
    QDesktopServices::openUrl(url);
}

// ---- reminder -------------------------------------------------------------------------------------------------

void TovraMainWindow::SetReminder(bool state)
{
    if (!state) {
        m_reminderTimer.stop();
        disconnect(m_trayIcon, &QSystemTrayIcon::messageClicked, nullptr, nullptr);
        log(QStringLiteral("Reminder popup timer stopped"));
        return;
    }
    if (m_connectionState != StateDisconnected || !AppContext::instance()->config()->remindAboutConnection)
        return;
    m_reminderTimer.start(m_timings.reminderInterval);
    // Once only, so that one click cannot restore and connect twice.
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, &TovraMainWindow::OnReminderConnectRequested,
            Qt::UniqueConnection);
    log(QStringLiteral("Reminder popup timer started"));
}

void TovraMainWindow::ShowReminder()
{
    if (m_connectionState != StateDisconnected) {
        log(QStringLiteral("App is already connected. Skip reminder popup"));
        return;
    }
    log(QStringLiteral("Show reminder popup"));
    m_reminderShown = true;
    m_trayIcon->showMessage(QStringLiteral("TOVRA VPN"),
                            tr("Your connection is NOT SECURE.\nClick HERE to connect to a VPN server."),
                            QSystemTrayIcon::Information, 10000);
}

void TovraMainWindow::OnReminderConnectRequested()
{
    if (!m_reminderShown)
        return;
    OnOpen();
    QTimer::singleShot(m_timings.reminderClickDelay, ui->tovraConnectButton, &QPushButton::click);
}

// ---- traffic --------------------------------------------------------------------------------------------------

void TovraMainWindow::UpdateTrafficData(bool isOk)
{
    const TovraUserData &user = AppContext::instance()->authManager()->userData();
    if (isOk && user.isUnlimited) {
        m_accountDialog->SetTraffic(true, 0, 0, 0, 0);
        m_bandwidthCheckTimer.stop();
        return;
    }
    if (isOk) {
        constexpr double kMebi = 1024.0 * 1024.0;
        constexpr double kGibi = kMebi * 1024.0;
        const double totalMB = static_cast<double>(user.bytesTotal) / kMebi;
        const double totalGB = static_cast<double>(user.bytesTotal) / kGibi;
        const double usedMB = static_cast<double>(user.bytesUsed) / kMebi;
        const double usedGB = static_cast<double>(user.bytesUsed) / kGibi;
        double leftGB = totalGB - usedGB;
        double leftMB = totalMB - usedMB;
        if (leftGB < 0)
            leftGB = leftMB = 0;
        log(QStringLiteral("Traffic data updated: plan: ") + QString::number(user.bytesTotal) + QStringLiteral(" (") +
            QString::number(totalGB, 'f', 0) + QStringLiteral(" GB = ") + QString::number(totalMB, 'f', 0) +
            QStringLiteral(" MB) used: ") + QString::number(user.bytesUsed) + QStringLiteral(" (") +
            QString::number(usedGB, 'f', 2) + QStringLiteral(" GB = ") + QString::number(usedMB, 'f', 2) +
            QStringLiteral(" MB)"));
        m_accountDialog->SetTraffic(false, totalGB, totalMB, leftGB, leftMB);

        if (user.bytesUsed >= user.bytesTotal) {
            log(QStringLiteral("Traffic limit reached."));
            if (m_connectionState != StateConnected && m_connectionState != StateConnecting) {
                ShowTrafficPopup();
            } else {
                m_trafficLimitHit = true;
                if (m_protocolIsOpenVpn)
                    m_openVpnManager->Disconnect();
                else
                    m_ikev2Manager->Disconnect();
            }
        } else if (user.isTrial) {
            CheckTrafficPercentUsage(totalGB, usedGB);
        }
    }
    m_bandwidthCheckTimer.start();
}

void TovraMainWindow::CheckTrafficPercentUsage(double trafficAll, double trafficUsed)
{
    const double percent = trafficUsed / trafficAll * 100;
    log(QStringLiteral("User used ") + QString::number(percent) + QStringLiteral("% of traffic"));
    int level = 0;
    bool *shown = nullptr;
    if (percent >= 89) {
        level = 90;
        shown = &m_trafficNotice90Shown;
    } else if (percent >= 74) {
        level = 75;
        shown = &m_trafficNotice75Shown;
    } else if (percent > 49) {
        level = 50;
        shown = &m_trafficNotice50Shown;
    }
    if (!shown || *shown)
        return;
    log(QStringLiteral("Show popup message for %1% traffic usage").arg(level));
    *shown = true;
    ShowPopup(tr("You've already used %1% of your data.").arg(level), tr("Please UPGRADE your subscription."),
              tr("UPGRADE"));
    connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this,
            &TovraMainWindow::OnUpgradeAccountButtonPressed);
}

// ---- review and invite popups ---------------------------------------------------------------------------------

void TovraMainWindow::ShowQuestion(const QString &title, const QString &text, const QString &primary,
                                   const QString &secondary)
{
    m_messageDialog->disconnect();
    m_messageDialog->Setup(title, text, primary, secondary, TovraGenericDialog::BothButtons);
    MoveCentredOn(m_messageDialog, frameGeometry());
    m_messageDialog->show();
}

void TovraMainWindow::CheckPopupSettings()
{
    // Business accounts see neither popup.
    if (AppContext::instance()->authManager()->userData().isB2b) {
        m_reviewSettled = m_inviteSettled = true;
        return;
    }
    Configuration *config = AppContext::instance()->config();
    config->LoadPopupState();

    bool inviteShownNow = false;
    if (config->inviteShown) {
        log(QStringLiteral("InviteFriends popup was already shown. Skip it."));
    } else if (++config->inviteConnectionCount > 2) {
        config->inviteConnectionCount = 0;
        config->inviteShown = true;
        config->inviteAppVersion = ReadAppVersion();
        m_inviteSettled = true;
        config->SavePopupState();
        ShowQuestion(tr("Give your friends 30% discount\nand earn money!"), QString(),
                     tr("Get %1 10").arg(QChar(0x20AC)), tr("No, Thanks"));
        connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this,
                &TovraMainWindow::OnInvitePositiveAnswerClicked);
        inviteShownNow = true;
    } else {
        config->SavePopupState();
    }

    if (config->reviewShown) {
        log(QStringLiteral("Review popup was already shown. Skip it."));
        return;
    }
    if (++config->reviewConnectionCount < 6) {
        config->SavePopupState();
        return;
    }
    // One popup per connection: the review question would replace the invite the user has not seen yet, so it
    // waits for the next connection.
    if (inviteShownNow) {
        config->SavePopupState();
        return;
    }
    config->reviewConnectionCount = 0;
    config->reviewShown = true;
    config->reviewAppVersion = ReadAppVersion();
    m_reviewSettled = true;
    config->SavePopupState();
    ShowQuestion(tr("Are you enjoying TOVRA VPN?"), QString(), tr("YES!"), tr("Not Really"));
    connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this,
            &TovraMainWindow::OnReviewPositiveAnswerClicked);
    connect(m_messageDialog, &TovraGenericDialog::SecondaryPressed, this,
            &TovraMainWindow::OnReviewNegativeAnswerClicked);
}

void TovraMainWindow::OnReviewPositiveAnswerClicked()
{
    ShowQuestion(tr("Would you like to rate TOVRA VPN on our website?"), QString(), tr("Ok, Sure"), tr("No, Thanks"));
    connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this,
            &TovraMainWindow::OnReviewPositiveFeedbackAllowed);
}

void TovraMainWindow::OnReviewNegativeAnswerClicked()
{
    ShowQuestion(tr("Would you mind giving us some feedback?"), QString(), tr("Ok, Sure"), tr("No, Thanks"));
    connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this,
            &TovraMainWindow::OnReviewNegativeFeedbackAllowed);
}

void TovraMainWindow::OnReviewPositiveFeedbackAllowed()
{
    const QString language = ReadLocaleCode(AppContext::instance()->dataPaths()->localeFile());
    const QString url = BuildConstants::reviewPageUrls().value(language);
    log(QStringLiteral("Redirect user to positive feedback page: ") + url);
    OpenWebLink(url);
}

void TovraMainWindow::OnReviewNegativeFeedbackAllowed()
{
    const QString language = ReadLocaleCode(AppContext::instance()->dataPaths()->localeFile());
    const QString url = BuildConstants::faqPageUrls().value(language);
    log(QStringLiteral("Redirect user to negative feedback page: ") + url);
    OpenWebLink(url);
}

void TovraMainWindow::OnInvitePositiveAnswerClicked()
{
    log(QStringLiteral("Redirect user to share page on portal"));
    OnInviteFriendsButtonPressed();
}

// ---- update check ---------------------------------------------------------------------------------------------

void TovraMainWindow::GetUpdateData()
{
    log(QStringLiteral("Get information about application updates."));
    m_updateCheckOnStart = false;
    AppContext::instance()->apiManager()->GetUpdateData();
}

void TovraMainWindow::OnUpdateDataReceived(const QString &version, const QString &downloadUrl)
{
    m_updateDownloadUrl = downloadUrl;
    const QString current = ReadAppVersion();
    m_updateAvailable = IsNewerVersion(current, version);
    log(QStringLiteral("Current version: ") + current + QStringLiteral(" Received version: ") + version);
    SetUpdatesActionText();
    if (!m_updateAvailable) {
        log(QStringLiteral("Received version is older or equal. Update is not needed."));
        if (!m_updateCheckOnStart)
            ShowPopup(tr("You already have the latest version of TOVRA VPN."), QString(), tr("OK"));
    } else {
        log(QStringLiteral("Received version is newer. Update is possible. Show information to user."));
        ShowQuestion(tr("A new version %1 is available.").arg(FormatVersion(version)),
                     tr("Click the Download button to get the latest version of TOVRA VPN."), tr("DOWNLOAD"),
                     tr("LATER"));
        connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this, &TovraMainWindow::OnUpdateRequested);
    }
    if (m_updateCheckOnStart)
        emit UpdateDataReceived();
}

void TovraMainWindow::OnUpdateRequested()
{
    log(QStringLiteral("Open update download url in default browser: ") + m_updateDownloadUrl);
    OpenWebLink(m_updateDownloadUrl);
}

void TovraMainWindow::SetUpdatesActionText()
{
    m_updatesAction->setText(m_updateAvailable ? tr("Update is available") : tr("Check for updates"));
}

// ---- map and texts --------------------------------------------------------------------------------------------

void TovraMainWindow::UpdateMapImage(bool result, const QImage &mapImage)
{
    if (result) {
        QPixmap pixmap = QPixmap::fromImage(mapImage);
        if (AppContext::instance()->config()->highDpiScreen)
            pixmap.setDevicePixelRatio(2.0);
        ui->tovraMainMapLabel->setPixmap(pixmap);
        log(QStringLiteral("Map image updated"));
        return;
    }
    log(QStringLiteral("Loading map image failed. Set default image"));
    const QIcon icon(AppContext::instance()->authManager()->userData().isB2b ? kDefaultMapB2b : kDefaultMap);
    const QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty()) {
        log(QStringLiteral("Default map image not found"));
        return;
    }
    ui->tovraMainMapLabel->setPixmap(icon.pixmap(sizes.first()));
}

void TovraMainWindow::RetranslateUI()
{
    ui->retranslateUi(this);
    if (m_connectionState == StateConnecting)
        ui->tovraMainStatusTextLabel->setText(tr("Connecting"));
    else
        SetSecuredStatus(m_connectionState == StateConnected);
    m_settingsAction->setText(tr("Settings"));
    m_accountAction->setText(tr("Account"));
    m_openAction->setText(tr("Open TOVRA VPN"));
    m_quitAction->setText(tr("Quit TOVRA VPN"));
    SetUpdatesActionText();
    SetProtocolLabel();
    m_accountDialog->RetranslateTexts();
}
