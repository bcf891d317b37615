#include "ui/tovragenericdialog.h"

#include <QCloseEvent>
#include <QTimer>

#include "ui_tovragenericdialog.h"

TovraGenericDialog::TovraGenericDialog(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      ui(std::make_unique<Ui::TovraGenericDialog>())
{
    ui->setupUi(this);
    // Square and opaque: without a compositor the corners of a translucent window show black.
    setWindowModality(Qt::ApplicationModal);
    connect(ui->primaryButton, &QPushButton::clicked, this, &TovraGenericDialog::OnPrimaryPressed);
    connect(ui->secondaryButton, &QPushButton::clicked, this, &QWidget::close);
    ui->titleLabel->setTextFormat(Qt::PlainText);
    m_answerTimer.setSingleShot(true);
    m_answerTimer.setInterval(50);
    connect(&m_answerTimer, &QTimer::timeout, this, [this] {
        if (m_answerPrimary)
            emit PrimaryPressed();
        else
            emit SecondaryPressed();
    });
}

TovraGenericDialog::~TovraGenericDialog() = default;

void TovraGenericDialog::Setup(const QString &title, const QString &text, const QString &primaryText,
                               const QString &secondaryText, int buttons)
{
    // The answer of an earlier use belongs to connections the caller has just dropped.
    m_answerTimer.stop();
    SetLabels(title, text);
    SetPrimaryText(primaryText);
    SetSecondaryText(secondaryText);
    ui->primaryButton->setVisible(buttons != SecondaryOnly);
    ui->secondaryButton->setVisible(buttons != PrimaryOnly);
}

void TovraGenericDialog::SetLabels(const QString &title, const QString &text)
{
    ui->titleLabel->setText(title);
    ui->titleLabel->setVisible(!title.isEmpty());
    ui->textLabel->setText(text);
    ui->textLabel->setVisible(!text.isEmpty());
}

void TovraGenericDialog::SetPrimaryText(const QString &text)
{
    ui->primaryButton->setText(text);
}

void TovraGenericDialog::SetSecondaryText(const QString &text)
{
    ui->secondaryButton->setText(text);
}

void TovraGenericDialog::showEvent(QShowEvent *event)
{
    m_primaryChosen = false;
    QWidget::showEvent(event);
}

void TovraGenericDialog::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (!isVisible())
        return;
    m_answerPrimary = m_primaryChosen;
    m_answerTimer.start();
}

void TovraGenericDialog::OnPrimaryPressed()
{
    m_primaryChosen = true;
    close();
}
