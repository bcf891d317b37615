#pragma once

#include <QImage>
#include <QMainWindow>
#include <QState>
#include <QStateMachine>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <memory>

#include "api/tovraauthmanager.h"
#include "servers/tovraserver.h"

namespace Ui {
class TovraMainWindow;
}

class IKEv2Manager;
class OpenVpnManager;
class QAction;
class RasApi;
class ServiceController;
class TovraAccountDialog;
class TovraGenericDialog;
class TovraServiceManager;
// Status, tray and notices
class QMenu;
class TovraSettingsDialog;
class TovraWelcomeDialog;

enum ConnectionState { StateInitializing = 0, StateConnected = 1, StateDisconnected = 2, StateConnecting = 3 };

class TovraMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Backends of the engines and the helper service; an empty one is the platform's own.
    struct Backends
    {
        std::unique_ptr<RasApi> ras;
        std::unique_ptr<ServiceController> openVpnService;
        std::unique_ptr<ServiceController> helperService;
    };

    // Waits of the workflow in milliseconds; the defaults are the production values.
    struct Timings
    {
        int prepareDelay = 100;
        int nextProtocolDelay = 500;
        int reasonDelay = 100;
        int paramsChangeDelay = 1500;
        int reconnectDelay = 1000;
        int networkCheckInterval = 1000;
        int networkChecks = 30;
        int bandwidthCheckInterval = 240000;
        // Status, tray and notices
        int reminderInterval = 900000;
        int reminderClickDelay = 500;
        int startupCheckInterval = 1000;
        int autoConnectDelay = 500;
        // Kill switch
        int resolveTimeout = 5000; // longest wait for the VPN server's address
    };

    explicit TovraMainWindow(QWidget *parent = nullptr);
    // Uses the given backends and leaves Initialize() to the caller.
    explicit TovraMainWindow(Backends backends, QWidget *parent = nullptr);
    ~TovraMainWindow() override;

    void setTimings(const Timings &timings);
    // The Windows version value the automatic protocol order is built for (QSysInfo's on Windows).
    void setWindowsVersion(int version) { m_windowsVersion = version; }
    // The network check of the reconnect procedure.
    void setNetworkCheck(std::function<bool()> check) { m_networkCheck = std::move(check); }

    OpenVpnManager *openVpnManager() const { return m_openVpnManager; }
    IKEv2Manager *ikev2Manager() const { return m_ikev2Manager; }
    TovraServiceManager *serviceManager() const { return m_serviceManager; }
    TovraGenericDialog *messageDialog() const { return m_messageDialog; }
    ConnectionState connectionState() const { return m_connectionState; }
    QStateMachine *stateMachine() { return &m_stateMachine; }

    // Status, tray and notices
    // Whether the desktop has a system tray to hide the window in; QSystemTrayIcon's answer by default.
    void setTrayCheck(std::function<bool()> check) { m_trayCheck = std::move(check); }
    // Start-up and sign-in
    // The start-up checks of the machine's connection and of the API host; unset ones are the platform's own.
    void setStartupNetworkChecks(std::function<bool()> internet, std::function<bool()> api);
    TovraSettingsDialog *settingsDialog() const { return m_settingsDialog; }
    TovraAccountDialog *accountDialog() const { return m_accountDialog; }

signals:
    void UserDataReceived();
    void LocalIpUpdated();
    void ServersListUpdated();
    void OpenVpnConfigUpdated();
    void UpdateDataReceived();
    void RemoteIpUpdated();
    void RestartWorkflow();
    void BackToServerSelectState();

public slots:
    void Initialize();
    void OnOpen();
    void OnExit();

    void AboutToConnect();
    void PrepareForConnect();
    void Connect();
    void Disconnect();
    void CancelConnect();
    void EnableCancelButton();
    void OnBestServerReceived(bool ok, const TovraServer &bestServer);
    void OnVPNChannelConnectingStarted();
    void OnVPNChannelConnectingAnimationTimer();
    void GetAssignedIp();
    void OnRemoteIpCheckFinished(bool isOK);
    void OnVPNChannelConnected();
    void OnVPNChannelDropped();
    void GetDisconnectReason();

    void OnSrvTaskGtwCheckFinished(bool ok);
    void OnSrvTaskGtwDeleteFinished(bool ok);
    void OnSrvTaskGtwRestoreFinished(bool ok);
    void OnSrvTaskAddDnsFiltersFinished(bool ok);
    void OnSrvTaskRmvDnsFiltersFinished(bool ok);
    void OnSrvTaskGuardServerFinished(bool ok);
    void OnSrvTaskGuardStatusFinished(bool ok);
    void OnSrvTaskVpnDnsFinished(bool ok);

    void ApplyConfiguration();
    void OnServerItemChanged(int index);
    // The star of the selected row: marks it as the one favourite, or unmarks it.
    void OnFavoriteStateChanged();
    void OnRegularBwCheckTimer();
    void GetTrafficData();
    void UpdateTrafficData(bool isOk);

    void OnInitializationFinished();
    void InitializeServers();
    void OnUpgradeAccountButtonPressed();

    // Status, tray and notices
    void OnMinimize();
    void OnClose();
    void OnSystrayIconActivated(QSystemTrayIcon::ActivationReason reason);
    void OnSystraySettingsClicked();
    void OnSystrayAccountClicked();
    void OnSystrayCheckForUpdatesClicked();
    void GetUpdateData();
    void OnUpdateDataReceived(const QString &version, const QString &downloadUrl);
    void OnUpdateRequested();
    void ShowReminder();
    void SetReminder(bool state);
    void OnReminderConnectRequested();
    void CheckPopupSettings();
    void OnReviewPositiveAnswerClicked();
    void OnReviewNegativeAnswerClicked();
    void OnReviewPositiveFeedbackAllowed();
    void OnReviewNegativeFeedbackAllowed();
    void OnInvitePositiveAnswerClicked();
    void CheckTrafficPercentUsage(double trafficAll, double trafficUsed);
    void UpdateMapImage(bool result, const QImage &mapImage);
    void OnSettingsButtonPressed();
    void OnAccountButtonPressed();
    void OnInviteFriendsButtonPressed();
    void OpenProtocolSettings();
    void OnSendTicketRequested();
    void OnSendTicketFinished(bool ok, const QString &ticketUrl);
    void RetranslateUI();
    void SetUpdateDownloadUrl(const QString &url) { m_updateDownloadUrl = url; }
    QString GetUpdateDownloadUrl() const { return m_updateDownloadUrl; }

    // Start-up and sign-in
    void GetLoginData();
    void OnRetryButtonPressed();
    void GetLocalIp();
    void OnLocalIpCheckFinished();
    void GetServersList();
    void GetOpenVpnConfig();
    void OnOpenVpnTcpConfigFinished(QString configData);
    void OnOpenVpnUdpConfigFinished(QString configData);
    void GetUpdateDataOnStart();
    void OnUserLoginFinished(TovraAuthManager::eAuthResults result);
    void OnLoginDataChanged(QString text);
    void OnLoginEnterPressed();
    void OnLoginButtonPressed();
    void OnForgotPasswordPressed();
    void OnForgotPasswordClosePressed();
    void OnForgotPasswordRequestPressed();
    void OnForgotPasswordRequestFinished(bool result);
    void OnLoginViaFacebookButtonPressed();
    void OnLoginViaFacebookFinished();
    void OnLoginViaFacebookFailed();
    void OnLoginViaGoogleButtonPressed();
    void OnLoginViaGoogleFinished();
    void OnLoginViaGoogleFailed();
    void OnLinkActivated(QString link);
    void OnApiErrorOccurred(QString errorMessage);
    void OnCurrentViewIndexChanged(int index);
    void OnServersOptionsChanged(bool isChecked);
    void Logout();

protected:
    // Status, tray and notices
    void changeEvent(QEvent *event) override;

private:
    void buildStateMachine();
    void BuildAutoProtocolOrder();
    bool AdvanceAutoProtocol();
    void SetProtocolLabel();
    // The status label's "secured" or "not secured" text.
    void SetSecuredStatus(bool secured);
    void ShowConnectingDisplay();
    void ShowPopup(const QString &title, const QString &text, const QString &button);
    void ShowTrafficPopup();
    void RequestMapImage(bool connected);
    void ReconnectAfterDrop();
    // Kill switch
    // Before the network wait: the helper lifts a block that no tunnel of this run holds.
    void LiftStaleGuard();
    // The block's state asked after a failed task (once until its answer).
    void CheckGuardAfterFailure();
    // The address literal of a server's host name, or its record's address; empty when neither is known.
    QString ResolveServer(const QString &host, const QString &recordAddress);
    // GUARD_SERVER for the tunnel that is up, then DELETE.
    void GuardServerAndDelete();
    // VPN_DNS for OpenVPN's pushed servers, then ADD_DNS_FILTERS.
    void InstallDnsFilters();
    void SetKillSwitchIndicator(bool shown);
    // The selected row; false (and a log line) when the picker selects none.
    bool SelectedServer(TovraServer *server) const;

    // Status, tray and notices
    void connectStatusDisplay();
    // The tray menu with every entry, or (after an API error) only "Open" and "Quit".
    void BuildTrayMenu(bool full);
    // Shows the window again, from the taskbar or from the tray.
    void BringBack();
    void ShowQuestion(const QString &title, const QString &text, const QString &primary, const QString &secondary);
    void SetUpdatesActionText();
    // Opens web pages only: any other scheme could start a local program.
    void OpenWebLink(const QString &link);

    std::unique_ptr<Ui::TovraMainWindow> ui;
    Timings m_timings;
    int m_windowsVersion;
    std::function<bool()> m_networkCheck;

    QSystemTrayIcon *m_trayIcon;
    QAction *m_settingsAction;
    QAction *m_accountAction;
    QAction *m_updatesAction;
    QStateMachine m_stateMachine;
    QState *m_loginState = nullptr;
    QState *m_localIpState = nullptr;
    QState *m_serversListState = nullptr;
    QState *m_openVpnConfigState = nullptr;
    QState *m_updateCheckState = nullptr;
    QState *m_serverSelectState = nullptr;
    QState *m_connectingState = nullptr;
    QState *m_assignedIpState = nullptr;
    QState *m_connectedState = nullptr;

    OpenVpnManager *m_openVpnManager;
    IKEv2Manager *m_ikev2Manager;
    TovraServiceManager *m_serviceManager;
    TovraGenericDialog *m_messageDialog;
    QTimer m_bandwidthCheckTimer;
    QTimer m_connectingAnimationTimer;

    ConnectionState m_connectionState = StateInitializing;
    bool m_userStopped = false;
    bool m_firstAttemptPending = false;
    bool m_protocolIsOpenVpn = false;
    bool m_engineIsOpenVpn = false;
    bool m_remoteIpFailed = false;
    bool m_trafficLimitHit = false;
    bool m_wasConnected = false;
    bool m_paramsChangeRequested = false;
    bool m_gatewayDeleted = false;
    bool m_dnsFiltersAdded = false;
    bool m_helperServiceStarted = false;
    int m_lastAppliedProtocol = 0;
    int m_animationStep = 0;
    bool m_reconnectRunning = false;
    // Kill switch
    bool m_holdBlock = false;          // the block stays across the next connect, until a tunnel is up again
    bool m_guardStatusPending = false; // GUARD_STATUS asked after a failure, not yet answered
    QString m_dialAddress;             // the address the last dial went to, when the kill switch needed it

    // Status, tray and notices
    std::function<bool()> m_trayCheck;
    QMenu *m_trayMenu = nullptr;
    QAction *m_openAction = nullptr;
    QAction *m_quitAction = nullptr;
    TovraSettingsDialog *m_settingsDialog = nullptr;
    TovraAccountDialog *m_accountDialog = nullptr;
    QTimer m_reminderTimer;
    bool m_reminderShown = false;
    bool m_trafficNotice50Shown = false;
    bool m_trafficNotice75Shown = false;
    bool m_trafficNotice90Shown = false;
    bool m_reviewSettled = false;
    bool m_inviteSettled = false;
    bool m_updateAvailable = false;
    bool m_updateCheckOnStart = false;
    QString m_updateDownloadUrl;
    // Start-up and sign-in
    void connectStartupFlow();
    void DetectScreenDensity();
    // The start view's failure: the error text, and Retry or the ticket link.
    void ShowStartError(const QString &text, bool retry);
    void ResetSocialButtons();
    // The Facebook or Google button: starts that sign-in in the browser, or cancels the one running.
    void ToggleSocialLogin(bool facebook);
    // That sign-in ended: the buttons and the window back, and the failure's popup.
    void EndSocialLogin(bool facebook, bool failed);
    void SetOtherLoginInputsEnabled(bool enabled, QWidget *socialButton);
    void ShowLoginView(bool clearEmail);
    // The status text and the business accounts' server options of a new main view.
    void SetUpMainView();
    // Popup bookkeeping, the main view and the automatic connect.
    void ShowMainView();

    std::function<bool()> m_internetCheck;
    std::function<bool()> m_apiCheck;
    TovraWelcomeDialog *m_welcomeDialog = nullptr;
    bool m_facebookLoginInProgress = false;
    bool m_googleLoginInProgress = false;
    bool m_storedTokenCheck = false;
};

// Status, tray and notices
// Whether received names a later version than current: up to four dot-separated decimal parts compared in turn,
// a missing or non-numeric part counting as 0.
bool IsNewerVersion(const QString &current, const QString &received);
