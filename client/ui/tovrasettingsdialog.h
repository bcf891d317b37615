#pragma once

#include <QPair>
#include <QPointF>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <memory>

#include "app/apptypes.h"

namespace Ui {
class TovraSettingsDialog;
}
class QLabel;
class QRadioButton;
class TovraGenericDialog;

// The settings window: options of the settings record, protocol, language, logout, FAQ and the support ticket with
// network diagnostics.
class TovraSettingsDialog : public QWidget
{
    Q_OBJECT

public:
    explicit TovraSettingsDialog(QWidget *parent = nullptr);
    ~TovraSettingsDialog() override;

    // Operations of the main window.
    void SetSmartListEditable(bool editable);
    void DisableNetworkGuardOptions();
    void HideProtocolOption(ProtocolType protocol);
    void SetCurrentTab(int index);
    void SetLoginText(const QString &text);
    void SetAccountText(const QString &text);
    void SetMainWindowGeometry(const QRect &mainWindow, int screenRight);
    void SetVersionText(const QString &text);

    // The program that runs the diagnostics script, and the longest one diagnostics step may take.
    void setDiagnosticsShell(const QString &program) { m_diagnosticsShell = program; }
    void setDiagnosticsStepLimit(int milliseconds) { m_stepLimitMs = milliseconds; }

signals:
    void ConfigurationUpdated();
    void LogoutRequested();
    void LanguageChanged();
    void BannerUpgradeRequested();
    void BannerInviteRequested();

public slots:
    void OnSaveButtonPressed();
    void OnCloseButtonPressed();
    void OnCloseWithoutSavingPressed();
    void OnLogoutButtonPressed();
    void OnConfirmLogoutPressed();
    void OnApplyLanguagePressed();
    void OnFaqLinkActivated(const QString &url);
    void OnAutoConnectStateChanged(bool state);
    void OnMinimizeToTrayStateChanged(bool state);
    bool IsOptionsChanged();

    // Support ticket.
    void OnSendTicketButtonPressed();
    void OnCancelTicketButtonPressed();
    void OnSendTicketFinished(bool isOk, const QString &ticketUrl);
    void OnSupportTimerTimeout();
    void GetWinNetworkInformation();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void fillControls();
    void showBanners();
    void retranslateTexts();
    void fillLanguages();
    int storedLanguageIndex() const;
    QPair<QRadioButton *, QLabel *> protocolOption(int protocol) const;
    ProtocolType checkedProtocol() const;
    void setFavoriteAndNearest(bool favorite, bool nearest);
    void askMessage(const QString &title, const QString &text, const QString &primary, const QString &secondary,
                    int buttons);
    enum class TicketStatus { Idle, Collecting, Cancelling, Created, Failed };
    // The ticket area's text for m_ticketStatus.
    void showTicketStatus();

    std::unique_ptr<Ui::TovraSettingsDialog> ui;
    QList<QPair<QString, QString>> m_languages;
    TovraGenericDialog *m_messageDialog = nullptr;
    bool m_ticketInProgress = false;
    bool m_closeWithoutSaving = false;
    bool m_ticketCancelled = false;
    int m_ticketProgress = 0;
    TicketStatus m_ticketStatus = TicketStatus::Idle;
    QTimer m_supportTimer;
    QRect m_mainWindow;
    int m_screenRight = 0;
    bool m_smartListEditable = true;
    QString m_loginText;
    QString m_accountText;
    QString m_diagnosticsShell;
    int m_stepLimitMs = 60000;
};
