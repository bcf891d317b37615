#pragma once

#include <QPointF>
#include <QRect>
#include <QWidget>
#include <memory>

namespace Ui {
class TovraAccountDialog;
}
class TovraGenericDialog;

// Where a dialog of the given size goes beside the main window: right of it if it fits on the screen, else left
// of it, else centred on it; always vertically centred.
QPoint BesideMainWindow(const QRect &mainWindow, const QSize &size, int screenRight);

// The signed-in account, its traffic allowance, the portal and logout.
class TovraAccountDialog : public QWidget
{
    Q_OBJECT

public:
    explicit TovraAccountDialog(QWidget *parent = nullptr);
    ~TovraAccountDialog() override;

    // The e-mail address, or a name that says which social provider signed in.
    void SetAccountText(const QString &account);
    void SetTraffic(bool unlimited, double totalGB, double totalMB, double leftGB, double leftMB);
    void RetranslateTexts();
    void SetMainWindowGeometry(const QRect &mainWindow, int screenRight);

signals:
    void LogoutRequested();

public slots:
    void OnCloseButtonPressed();
    void OnPortalButtonPressed();
    void OnLogoutButtonPressed();
    void OnConfirmLogoutPressed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void ShowAccountText();
    void ShowTrafficTexts();

    std::unique_ptr<Ui::TovraAccountDialog> ui;
    TovraGenericDialog *m_messageDialog = nullptr;
    QRect m_mainWindow;
    int m_screenRight = 0;
    QString m_account;
    bool m_unlimited = false;
    QString m_trafficLeft;
};
