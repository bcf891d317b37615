#include "ui/tovraaccountdialog.h"

#include <QDebug>

#include "api/tovraapimanager.h"
#include "app/appcontext.h"
#include "ui/placement.h"
#include "ui/tovragenericdialog.h"
#include "ui/windowdrag.h"
#include "ui_tovraaccountdialog.h"

QPoint BesideMainWindow(const QRect &mainWindow, const QSize &size, int screenRight)
{
    int x = mainWindow.x() + mainWindow.width() + 1;
    if (x + size.width() > screenRight) {
        x = mainWindow.x() - size.width();
        if (x < 0)
            x = mainWindow.x() + (mainWindow.width() - size.width()) / 2;
    }
    return QPoint(x, mainWindow.y() + (mainWindow.height() - size.height()) / 2);
}

TovraAccountDialog::TovraAccountDialog(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      ui(std::make_unique<Ui::TovraAccountDialog>())
{
    ui->setupUi(this);
    new WindowDrag(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);
    m_messageDialog = new TovraGenericDialog(this);
    connect(ui->closeButton, &QPushButton::clicked, this, &TovraAccountDialog::OnCloseButtonPressed);
    connect(ui->portalButton, &QPushButton::clicked, this, &TovraAccountDialog::OnPortalButtonPressed);
    connect(ui->logoutButton, &QPushButton::clicked, this, &TovraAccountDialog::OnLogoutButtonPressed);
}

TovraAccountDialog::~TovraAccountDialog() = default;

void TovraAccountDialog::SetAccountText(const QString &account)
{
    m_account = account;
    ShowAccountText();
}

void TovraAccountDialog::ShowAccountText()
{
    if (m_account.contains(QLatin1Char('@')))
        ui->accountLabel->setText(m_account);
    else if (m_account.contains(QLatin1String("Facebook")))
        ui->accountLabel->setText(tr("logged in with Facebook"));
    else if (m_account.contains(QLatin1String("Google")))
        ui->accountLabel->setText(tr("logged in with Google"));
    else
        ui->accountLabel->setText(m_account);
}

void TovraAccountDialog::SetTraffic(bool unlimited, double totalGB, double totalMB, double leftGB, double leftMB)
{
    m_unlimited = unlimited;
    if (unlimited) {
        ui->progressBar->setRange(0, 100);
        ui->progressBar->setValue(100);
    } else {
        ui->limitLabel->setText(totalGB >= 1 ? QStringLiteral("%1 GB").arg(totalGB, 0, 'f', 0)
                                             : QStringLiteral("%1 MB").arg(totalMB, 0, 'f', 0));
        m_trafficLeft = leftGB >= 1 ? QStringLiteral("%1 GB").arg(leftGB, 0, 'f', 2)
                                    : QStringLiteral("%1 MB").arg(leftMB, 0, 'f', 2);
        // A zero maximum would turn the bar into a busy indicator, and a value outside the range would leave
        // the previous value standing.
        const int maximum = qMax(1, static_cast<int>(totalGB * 100));
        ui->progressBar->setRange(0, maximum);
        ui->progressBar->setValue(qBound(0, static_cast<int>(leftGB * 100), maximum));
    }
    ShowTrafficTexts();
}

void TovraAccountDialog::ShowTrafficTexts()
{
    if (m_unlimited) {
        ui->limitLabel->setText(tr("UNLIMITED"));
        ui->trafficLabel->setText(tr("Your current traffic plan is unlimited"));
    } else {
        ui->trafficLabel->setText(tr("%1 traffic left").arg(m_trafficLeft));
    }
}

void TovraAccountDialog::RetranslateTexts()
{
    ui->retranslateUi(this);
    ShowAccountText();
    ShowTrafficTexts();
}

void TovraAccountDialog::SetMainWindowGeometry(const QRect &mainWindow, int screenRight)
{
    m_mainWindow = mainWindow;
    m_screenRight = screenRight;
}

void TovraAccountDialog::OnCloseButtonPressed()
{
    close();
}

void TovraAccountDialog::OnPortalButtonPressed()
{
    qDebug() << "My account portal button pressed";
    AppContext::instance()->apiManager()->GetUserAutoAuthUrl(QString());
}

void TovraAccountDialog::OnLogoutButtonPressed()
{
    disconnect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, nullptr, nullptr);
    disconnect(m_messageDialog, &TovraGenericDialog::SecondaryPressed, nullptr, nullptr);
    m_messageDialog->Setup(tr("Are you sure you want to logout?"),
                           tr("You will be prompted to enter your login details again."), tr("LOGOUT"), tr("CANCEL"),
                           TovraGenericDialog::BothButtons);
    connect(m_messageDialog, &TovraGenericDialog::PrimaryPressed, this, &TovraAccountDialog::OnConfirmLogoutPressed);
    MoveCentredOn(m_messageDialog, geometry());
    m_messageDialog->show();
}

void TovraAccountDialog::OnConfirmLogoutPressed()
{
    close();
    emit LogoutRequested();
}

void TovraAccountDialog::showEvent(QShowEvent *event)
{
    if (m_mainWindow.isValid())
        move(InsideScreen(QRect(BesideMainWindow(m_mainWindow, size(), m_screenRight), size())));
    QWidget::showEvent(event);
}
