#include "ui/tovrasettingsdialog.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QUrl>

#include "api/tovraauthmanager.h"
#include "app/appcontext.h"
#include "app/buildconstants.h"
#include "app/networkdiagnostics.h"
#include "app/startatlogin.h"
#include "app/startup.h"
#include "ui/placement.h"
#include "ui/tovraaccountdialog.h"
#include "ui/tovragenericdialog.h"
#include "ui/windowdrag.h"
#include "ui_tovrasettingsdialog.h"

TovraSettingsDialog::TovraSettingsDialog(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      ui(std::make_unique<Ui::TovraSettingsDialog>()), m_diagnosticsShell(NetworkDiagnostics::defaultShell())
{
    ui->setupUi(this);
    new WindowDrag(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);
    fillLanguages();
    m_messageDialog = new TovraGenericDialog(this);

    connect(ui->saveButton, &QPushButton::clicked, this, &TovraSettingsDialog::OnSaveButtonPressed);
    connect(ui->cancelButton, &QPushButton::clicked, this, &TovraSettingsDialog::OnCloseButtonPressed);
    connect(ui->closeButton, &QPushButton::clicked, this, &TovraSettingsDialog::OnCloseButtonPressed);
    connect(ui->logoutButton, &QPushButton::clicked, this, &TovraSettingsDialog::OnLogoutButtonPressed);
    connect(ui->applyLanguageButton, &QPushButton::clicked, this, &TovraSettingsDialog::OnApplyLanguagePressed);
    connect(ui->upgradeButton, &QPushButton::clicked, this, &TovraSettingsDialog::BannerUpgradeRequested);
    connect(ui->inviteButton, &QPushButton::clicked, this, &TovraSettingsDialog::BannerInviteRequested);
    connect(ui->faqLinkLabel, &QLabel::linkActivated, this, &TovraSettingsDialog::OnFaqLinkActivated);
    connect(ui->minimizeToTrayCheckBox, &QCheckBox::clicked, this, &TovraSettingsDialog::OnMinimizeToTrayStateChanged);
    connect(ui->autoConnectCheckBox, &QCheckBox::toggled, this, &TovraSettingsDialog::OnAutoConnectStateChanged);
    connect(ui->sendTicketButton, &QPushButton::clicked, this, &TovraSettingsDialog::OnSendTicketButtonPressed);
    connect(ui->cancelTicketButton, &QPushButton::clicked, this, &TovraSettingsDialog::OnCancelTicketButtonPressed);
    connect(&m_supportTimer, &QTimer::timeout, this, &TovraSettingsDialog::OnSupportTimerTimeout);

    fillControls();
    ui->tabWidget->setCurrentIndex(0);
}

TovraSettingsDialog::~TovraSettingsDialog() = default;

// ---- operations of the main window ----------------------------------------------------------------------------

void TovraSettingsDialog::SetSmartListEditable(bool editable)
{
    m_smartListEditable = editable;
    ui->smartListCheckBox->setEnabled(editable);
    ui->smartListCheckBox->setText(editable ? tr("Enable smart server list")
                                            : tr("Enable smart server list (You have to be\ndisconnected)"));
}

void TovraSettingsDialog::DisableNetworkGuardOptions()
{
    ui->killSwitchCheckBox->setEnabled(false);
    ui->dnsLeakCheckBox->setEnabled(false);
}

void TovraSettingsDialog::HideProtocolOption(ProtocolType protocol)
{
    if (protocol == Automatic)
        return;
    const auto [button, description] = protocolOption(protocol);
    button->hide();
    description->hide();
}

void TovraSettingsDialog::SetCurrentTab(int index)
{
    ui->tabWidget->setCurrentIndex(index);
}

void TovraSettingsDialog::SetLoginText(const QString &text)
{
    m_loginText = text;
    if (!text.contains(QLatin1Char('@')) && text.contains(QLatin1String("Facebook")))
        ui->loginLabel->setText(tr("logged in with Facebook"));
    else if (!text.contains(QLatin1Char('@')) && text.contains(QLatin1String("Google")))
        ui->loginLabel->setText(tr("logged in with Google"));
    else
        ui->loginLabel->setText(text);
}

void TovraSettingsDialog::SetAccountText(const QString &text)
{
    m_accountText = text;
    ui->accountLabel->setText(text);
}

void TovraSettingsDialog::SetMainWindowGeometry(const QRect &mainWindow, int screenRight)
{
    m_mainWindow = mainWindow;
    m_screenRight = screenRight;
}

void TovraSettingsDialog::SetVersionText(const QString &text)
{
    auto *label = findChild<QLabel *>(QStringLiteral("versionLabel"));
    if (!label) {
        label = new QLabel(this);
        label->setObjectName(QStringLiteral("versionLabel"));
        ui->headerLayout->insertWidget(1, label);
    }
    label->setText(text);
}

// ---- filling and showing --------------------------------------------------------------------------------------

QPair<QRadioButton *, QLabel *> TovraSettingsDialog::protocolOption(int protocol) const
{
    switch (protocol) {
    case OpenVPN:
        return {ui->protocolOpenVpnRadioButton, ui->protocolOpenVpnLabel};
    case IKEv2:
        return {ui->protocolIkev2RadioButton, ui->protocolIkev2Label};
    case L2TP:
        return {ui->protocolL2tpRadioButton, ui->protocolL2tpLabel};
    case PPTP:
        return {ui->protocolPptpRadioButton, ui->protocolPptpLabel};
    default:
        return {ui->protocolAutoRadioButton, ui->protocolAutoLabel};
    }
}

ProtocolType TovraSettingsDialog::checkedProtocol() const
{
    for (const ProtocolType protocol : {OpenVPN, IKEv2, L2TP, PPTP}) {
        if (protocolOption(protocol).first->isChecked())
            return protocol;
    }
    return Automatic;
}

void TovraSettingsDialog::setFavoriteAndNearest(bool favorite, bool nearest)
{
    // Both may be off, which an exclusive pair does not allow.
    ui->favoriteRadioButton->setAutoExclusive(false);
    ui->nearestRadioButton->setAutoExclusive(false);
    ui->favoriteRadioButton->setChecked(favorite);
    ui->nearestRadioButton->setChecked(nearest && !favorite);
    ui->favoriteRadioButton->setAutoExclusive(true);
    ui->nearestRadioButton->setAutoExclusive(true);
}

void TovraSettingsDialog::fillControls()
{
    const Configuration *config = AppContext::instance()->config();
    ui->minimizeToTrayCheckBox->setChecked(config->minimizeToTray);
    ui->reminderCheckBox->setChecked(config->remindAboutConnection);
    ui->reminderCheckBox->setEnabled(config->minimizeToTray);
    ui->autoLaunchCheckBox->setChecked(config->autoLaunch);
    ui->autoConnectCheckBox->setChecked(config->autoConnect);
    ui->favoriteRadioButton->setEnabled(config->autoConnect);
    ui->nearestRadioButton->setEnabled(config->autoConnect);
    setFavoriteAndNearest(config->connectToFavorite, config->connectToNearest);
    ui->smartListCheckBox->setChecked(config->smartServerList);
    ui->killSwitchCheckBox->setChecked(config->killSwitch);
    ui->dnsLeakCheckBox->setChecked(config->dnsLeakFix);
    protocolOption(config->protocol).first->click();
    applyStartAtLogin(ui->autoLaunchCheckBox->isChecked(), QCoreApplication::applicationFilePath());
}

void TovraSettingsDialog::showEvent(QShowEvent *event)
{
    // A restore from minimized keeps the edits and a collection that runs.
    if (event->spontaneous()) {
        QWidget::showEvent(event);
        return;
    }
    if (m_mainWindow.isValid())
        move(InsideScreen(QRect(BesideMainWindow(m_mainWindow, size(), m_screenRight), size())));
    fillControls();
    m_ticketInProgress = false;
    m_closeWithoutSaving = false;
    ui->languageComboBox->setCurrentIndex(storedLanguageIndex());
    ui->ticketButtonStack->setCurrentIndex(0);
    ui->ticketButtonStack->show();
    m_ticketStatus = TicketStatus::Idle;
    showTicketStatus();
    showBanners();
    QWidget::showEvent(event);
}

void TovraSettingsDialog::showBanners()
{
    const TovraUserData &user = AppContext::instance()->authManager()->userData();
    ui->inviteBanner->move(ui->inviteBanner->x(), 271);
    ui->upgradeBanner->show();
    if (user.isTrial) {
        ui->upgradeLabel->setText(tr("Enjoy TOVRA VPN product? Upgrade your trial!"));
    } else if (!user.isUnlimited) {
        ui->upgradeLabel->setText(tr("Enjoy unlimited data? Upgrade now!"));
    } else if (user.isAnnual) {
        ui->upgradeBanner->hide();
        ui->inviteBanner->move(ui->inviteBanner->x(), 225);
    } else {
        ui->upgradeLabel->setText(tr("Save money using our Annual Subscription!"));
    }
    ui->inviteBanner->setVisible(!user.isB2b);
    if (user.isB2b)
        ui->upgradeBanner->hide();
}

// ---- options ---------------------------------------------------------------------------------------------------

void TovraSettingsDialog::fillLanguages()
{
    m_languages = {{tr("English"), QStringLiteral("en")},
                   {tr("Dutch"), QStringLiteral("nl")},
                   {tr("German"), QStringLiteral("de")}};
    const int index = ui->languageComboBox->currentIndex();
    ui->languageComboBox->clear();
    for (const auto &language : qAsConst(m_languages))
        ui->languageComboBox->addItem(language.first, language.second);
    ui->languageComboBox->setCurrentIndex(qMax(0, index));
}

int TovraSettingsDialog::storedLanguageIndex() const
{
    const QString code = ReadLocaleCode(AppContext::instance()->dataPaths()->localeFile());
    for (int i = 0; i < m_languages.size(); ++i) {
        if (m_languages.at(i).second == code)
            return i;
    }
    return 0;
}

bool TovraSettingsDialog::IsOptionsChanged()
{
    const Configuration *config = AppContext::instance()->config();
    return ui->minimizeToTrayCheckBox->isChecked() != config->minimizeToTray ||
           ui->reminderCheckBox->isChecked() != config->remindAboutConnection ||
           ui->autoLaunchCheckBox->isChecked() != config->autoLaunch ||
           ui->languageComboBox->currentIndex() != storedLanguageIndex() ||
           ui->autoConnectCheckBox->isChecked() != config->autoConnect ||
           ui->favoriteRadioButton->isChecked() != config->connectToFavorite ||
           ui->nearestRadioButton->isChecked() != config->connectToNearest ||
           ui->smartListCheckBox->isChecked() != config->smartServerList ||
           ui->killSwitchCheckBox->isChecked() != config->killSwitch ||
           ui->dnsLeakCheckBox->isChecked() != config->dnsLeakFix || checkedProtocol() != config->protocol;
}

void TovraSettingsDialog::OnSaveButtonPressed()
{
    if (ui->languageComboBox->currentIndex() != storedLanguageIndex())
        OnApplyLanguagePressed();
    Configuration *config = AppContext::instance()->config();
    config->minimizeToTray = ui->minimizeToTrayCheckBox->isChecked();
    config->remindAboutConnection = ui->reminderCheckBox->isChecked();
    config->autoLaunch = ui->autoLaunchCheckBox->isChecked();
    config->autoConnect = ui->autoConnectCheckBox->isChecked();
    config->connectToFavorite = ui->favoriteRadioButton->isChecked();
    config->connectToNearest = ui->nearestRadioButton->isChecked();
    config->smartServerList = ui->smartListCheckBox->isChecked();
    config->killSwitch = ui->killSwitchCheckBox->isChecked();
    config->dnsLeakFix = ui->dnsLeakCheckBox->isChecked();
    config->protocol = checkedProtocol();
    config->autoProtocolIndex = 0;
    config->SaveSettings();
    applyStartAtLogin(config->autoLaunch, QCoreApplication::applicationFilePath());
    emit ConfigurationUpdated();
    m_closeWithoutSaving = true;
    close();
}

void TovraSettingsDialog::OnAutoConnectStateChanged(bool state)
{
    ui->favoriteRadioButton->setEnabled(state);
    ui->nearestRadioButton->setEnabled(state);
    setFavoriteAndNearest(state, false);
}

void TovraSettingsDialog::OnMinimizeToTrayStateChanged(bool state)
{
    ui->reminderCheckBox->setEnabled(state);
    ui->reminderCheckBox->setChecked(state);
}

// ---- closing, logout, language, FAQ -----------------------------------------------------------------------------

void TovraSettingsDialog::askMessage(const QString &title, const QString &text, const QString &primary,
                                     const QString &secondary, int buttons)
{
    disconnect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, nullptr, nullptr);
    disconnect(m_messageDialog, &TovraGenericDialog::SecondaryPressed, nullptr, nullptr);
    m_messageDialog->Setup(title, text, primary, secondary, buttons);
}

void TovraSettingsDialog::OnCloseButtonPressed()
{
    close();
}

void TovraSettingsDialog::closeEvent(QCloseEvent *event)
{
    if (m_ticketInProgress) {
        event->ignore();
        askMessage(tr("Collection of debug data is in progress."), tr("Please wait until it's finished."), tr("OK"),
                   QString(), TovraGenericDialog::PrimaryOnly);
    } else if (m_closeWithoutSaving || !IsOptionsChanged()) {
        QWidget::closeEvent(event);
        return;
    } else {
        event->ignore();
        askMessage(tr("You have adjusted your settings."), tr("Do you want to save these?"), tr("SAVE"), tr("CANCEL"),
                   TovraGenericDialog::BothButtons);
        connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this, &TovraSettingsDialog::OnSaveButtonPressed);
        connect(m_messageDialog, &TovraGenericDialog::SecondaryPressed, this,
                &TovraSettingsDialog::OnCloseWithoutSavingPressed);
    }
    MoveCentredOn(m_messageDialog, geometry());
    m_messageDialog->show();
}

void TovraSettingsDialog::OnCloseWithoutSavingPressed()
{
    m_closeWithoutSaving = true;
    close();
}

void TovraSettingsDialog::OnLogoutButtonPressed()
{
    askMessage(tr("Are you sure you want to logout?"), tr("You will be prompted to enter your login details again."),
               tr("LOGOUT"), tr("CANCEL"), TovraGenericDialog::BothButtons);
    connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this, &TovraSettingsDialog::OnConfirmLogoutPressed);
    MoveCentredOn(m_messageDialog, geometry());
    m_messageDialog->show();
}

void TovraSettingsDialog::OnConfirmLogoutPressed()
{
    close();
    emit LogoutRequested();
}

void TovraSettingsDialog::OnApplyLanguagePressed()
{
    const int index = ui->languageComboBox->currentIndex();
    qDebug() << "UI language index changed to:" << index;
    if (index < 0 || index >= m_languages.size())
        return;
    const QString path = AppContext::instance()->dataPaths()->localeFile();
    QFile locale(path);
    if (!EnsureParentDir(path) || !locale.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        locale.write(m_languages.at(index).second.toUtf8()) < 0)
        qDebug().noquote() << "Can't write locale file:" << locale.errorString();
    locale.close();
    LoadTranslation();
    retranslateTexts();
    fillLanguages();
    emit LanguageChanged();
}

void TovraSettingsDialog::retranslateTexts()
{
    ui->retranslateUi(this);
    SetSmartListEditable(m_smartListEditable);
    SetLoginText(m_loginText);
    SetAccountText(m_accountText);
    showBanners();
    showTicketStatus();
}

void TovraSettingsDialog::OnFaqLinkActivated(const QString &url)
{
    Q_UNUSED(url)
    const QString page =
        BuildConstants::faqPageUrls().value(ReadLocaleCode(AppContext::instance()->dataPaths()->localeFile()));
    qDebug().noquote() << QStringLiteral("Faq link clicked in Settings window: ") + page;
    QDesktopServices::openUrl(QUrl(page));
}
