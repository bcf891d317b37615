// The support ticket of the settings window: network diagnostics, the support data file and the ticket request.
#include "ui/tovrasettingsdialog.h"

#include <QDebug>
#include <QEventLoop>
#include <QFile>
#include <QProcess>

#include "api/tovraapimanager.h"
#include "app/appcontext.h"
#include "app/networkdiagnostics.h"
#include "ui_tovrasettingsdialog.h"

void TovraSettingsDialog::showTicketStatus()
{
    switch (m_ticketStatus) {
    case TicketStatus::Idle:
        ui->ticketStatusLabel->setText(tr("Send debug data directly to our support team:"));
        break;
    case TicketStatus::Collecting:
        ui->ticketStatusLabel->setText(tr("Collecting debug data...%1%").arg(m_ticketProgress));
        break;
    case TicketStatus::Cancelling:
        ui->ticketStatusLabel->setText(tr("Cancelling support ticket..."));
        break;
    case TicketStatus::Created:
        ui->ticketStatusLabel->setText(tr("Support ticket has been created."));
        break;
    case TicketStatus::Failed:
        ui->ticketStatusLabel->setText(tr("Support ticket error has occurred, please contact support."));
        break;
    }
}

void TovraSettingsDialog::OnSendTicketButtonPressed()
{
    // One collection at a time: a second one would run inside the first one's event loop on the same files.
    if (m_ticketInProgress)
        return;
    qDebug() << "Ticket button pressed in Settings. Collecting system network information.";
    m_ticketInProgress = true;
    m_ticketCancelled = false;
    ui->ticketButtonStack->setCurrentIndex(1);
    m_ticketProgress = 0;
    m_ticketStatus = TicketStatus::Collecting;
    showTicketStatus();

    GetWinNetworkInformation();

    const DataPaths *paths = AppContext::instance()->dataPaths();
    const bool written = NetworkDiagnostics::writeSupportData(paths->diagnosticsOutput(), paths->supportDataFile());
    if (!written && !m_ticketCancelled) {
        // Without this collection's data the ticket would carry an older file or none: it is not sent.
        qDebug() << "Support data file cannot be written. Ticket not sent.";
        QFile::remove(paths->diagnosticsOutput());
        ui->ticketButtonStack->hide();
        m_ticketStatus = TicketStatus::Failed;
        showTicketStatus();
        m_ticketInProgress = false;
        return;
    }
    qDebug() << "Network data collected and encrypted. Sending ticket.";
    if (m_ticketCancelled) {
        m_ticketStatus = TicketStatus::Idle;
        showTicketStatus();
        ui->ticketButtonStack->setCurrentIndex(0);
        ui->ticketButtonStack->show();
        m_ticketInProgress = false;
        return;
    }
    ui->ticketButtonStack->hide();
    TovraApiManager *api = AppContext::instance()->apiManager();
    connect(api, &TovraApiManager::SupportTicketFinished, this, &TovraSettingsDialog::OnSendTicketFinished,
            Qt::UniqueConnection);
    api->SendSupportTicket(true);
}

void TovraSettingsDialog::GetWinNetworkInformation()
{
    // Start value of the progress and interval of its timer, per step.
    static constexpr int Steps[3][2] = {{0, 50}, {25, 300}, {75, 50}};
    const DataPaths *paths = AppContext::instance()->dataPaths();
    const QString script = paths->diagnosticsScript();
    const QString host = NetworkDiagnostics::hostOf(AppContext::instance()->apiManager()->apiBaseUrl());
    EnsureParentDir(script);

    QProcess process;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    int step = 0;
    bool ended = false;
    connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
            [&](int exitCode, QProcess::ExitStatus status) {
                if (status == QProcess::NormalExit && exitCode != 0)
                    qDebug().noquote() << "Diagnostics step" << step << "ended with exit code" << exitCode;
                ended = true;
                loop.quit();
            });
    // A tool that cannot start never reports finished.
    connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        qDebug().noquote() << "Diagnostics step" << step << "cannot be started:" << process.errorString();
        ended = true;
        loop.quit();
    });
    connect(&limit, &QTimer::timeout, &loop, [&] {
        qDebug().noquote() << "Diagnostics step" << step << "did not end within" << m_stepLimitMs / 1000
                           << "seconds; its tool was stopped";
        process.kill();
        process.waitForFinished(5000);
        ended = true;
        loop.quit();
    });

    for (step = 1; step <= 3; ++step) {
        if (step > 1 && m_ticketCancelled)
            return;
        m_ticketProgress = Steps[step - 1][0];
        showTicketStatus();
        QFile file(script);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
            file.write(NetworkDiagnostics::scriptText(step, host, paths->diagnosticsOutput()));
        else
            qDebug().noquote() << "Can't write diagnostics script:" << file.errorString();
        file.close();
        ended = false;
        NetworkDiagnostics::prepareProcess(process, m_diagnosticsShell, script);
        process.start(QIODevice::ReadWrite);
        m_supportTimer.start(Steps[step - 1][1]);
        limit.start(m_stepLimitMs);
        if (!ended)
            loop.exec();
        limit.stop();
        m_supportTimer.stop();
    }
    if (m_ticketCancelled)
        return;
    m_ticketProgress = 90;
    showTicketStatus();
    QFile::remove(script);
}

void TovraSettingsDialog::OnSupportTimerTimeout()
{
    ++m_ticketProgress;
    if (m_ticketProgress == 24 || m_ticketProgress == 74 || m_ticketProgress == 89)
        m_supportTimer.stop();
    showTicketStatus();
}

void TovraSettingsDialog::OnCancelTicketButtonPressed()
{
    ui->ticketButtonStack->hide();
    m_ticketCancelled = true;
    m_supportTimer.stop();
    m_ticketStatus = TicketStatus::Cancelling;
    showTicketStatus();
}

void TovraSettingsDialog::OnSendTicketFinished(bool isOk, const QString &ticketUrl)
{
    TovraApiManager *api = AppContext::instance()->apiManager();
    disconnect(api, &TovraApiManager::SupportTicketFinished, this, &TovraSettingsDialog::OnSendTicketFinished);
    m_ticketProgress = 100;
    showTicketStatus();
    if (!isOk) {
        m_ticketStatus = TicketStatus::Failed;
        showTicketStatus();
        m_ticketInProgress = false;
        return;
    }
    m_ticketStatus = TicketStatus::Created;
    showTicketStatus();
    QFile::remove(AppContext::instance()->dataPaths()->supportDataFile());
    api->GetUserAutoAuthUrl(NetworkDiagnostics::ticketGotoQuery(ticketUrl));
    m_ticketInProgress = false;
}
