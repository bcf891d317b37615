#include "ui/tovragenericdialog.h"

#include <QCloseEvent>
#include <QTimer>

#include "ui_tovragenericdialog.h"

TovraGenericDialog::TovraGenericDialog(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      ui(std::make_unique<Ui::TovraGenericDialog>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);
    connect(ui->primaryButton, &QPushButton::clicked, this, &TovraGenericDialog::OnPrimaryPressed);
    connect(ui->secondaryButton, &QPushButton::clicked, this, &QWidget::close);
}

TovraGenericDialog::~TovraGenericDialog() = default;

void TovraGenericDialog::Setup(const QString &title, const QString &text, const QString &primaryText,
                               const QString &secondaryText, int buttons)
{
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
    const bool primary = m_primaryChosen;
    QTimer::singleShot(50, this, [this, primary] {
        if (primary)
            emit PrimaryPressed();
        else
            emit SecondaryPressed();
    });
}

void TovraGenericDialog::OnPrimaryPressed()
{
    m_primaryChosen = true;
    close();
}
