#include "ui/tovrawelcomedialog.h"

#include <QDebug>
#include <QFile>
#include <QIcon>

#include "app/appcontext.h"
#include "ui_tovrawelcomedialog.h"

namespace {

QString WelcomeImagePath(int imageNumber, const QString &language)
{
    return QStringLiteral(":/welcome/resources/welcome/WelcomeImage_0%1_%2.png").arg(imageNumber).arg(language);
}

} // namespace

TovraWelcomeDialog::TovraWelcomeDialog(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      ui(std::make_unique<Ui::TovraWelcomeDialog>())
{
    ui->setupUi(this);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);
    connect(ui->skipButton, &QPushButton::clicked, this, &TovraWelcomeDialog::OnSkipButtonPressed);
    connect(ui->backButton, &QPushButton::clicked, this, &TovraWelcomeDialog::OnBackButtonPressed);
    connect(ui->nextButton, &QPushButton::clicked, this, &TovraWelcomeDialog::OnNextButtonPressed);
}

TovraWelcomeDialog::~TovraWelcomeDialog() = default;

void TovraWelcomeDialog::showEvent(QShowEvent *event)
{
    m_page = 1;
    ui->backButton->hide();
    ui->skipButton->show();
    ui->skipButton->setText(tr("SKIP TIPS"));
    ui->backButton->setText(tr("BACK"));
    ui->nextButton->setText(tr("NEXT"));
    LoadImage(1);
    QWidget::showEvent(event);
}

void TovraWelcomeDialog::OnSkipButtonPressed()
{
    SaveIndicator();
    hide();
}

void TovraWelcomeDialog::OnBackButtonPressed()
{
    if (m_page <= 1)
        return;
    --m_page;
    if (m_page == 1) {
        ui->skipButton->show();
        ui->backButton->hide();
    }
    ui->nextButton->setText(tr("NEXT"));
    LoadImage(m_page);
}

void TovraWelcomeDialog::OnNextButtonPressed()
{
    ++m_page;
    if (m_page > 4) {
        SaveIndicator();
        hide();
        return;
    }
    ui->skipButton->hide();
    ui->backButton->show();
    if (m_page == 4)
        ui->nextButton->setText(tr("START"));
    LoadImage(m_page);
}

void TovraWelcomeDialog::LoadImage(int imageNumber)
{
    AppContext *context = AppContext::instance();
    QIcon icon(WelcomeImagePath(imageNumber, ReadLocaleCode(context->dataPaths()->localeFile())));
    // A language without its own pictures gets the English ones.
    if (icon.availableSizes().isEmpty())
        icon = QIcon(WelcomeImagePath(imageNumber, QStringLiteral("en")));
    const QList<QSize> sizes = icon.availableSizes();
    ui->imageLabel->setPixmap(sizes.isEmpty() ? QPixmap() : icon.pixmap(sizes.first()));
}

void TovraWelcomeDialog::SaveIndicator()
{
    const QString path = AppContext::instance()->dataPaths()->welcomeFile();
    EnsureParentDir(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("false") != 5 || !file.flush()) {
        qDebug() << "Can't write to file with Welcome Guide indicator";
        return;
    }
    file.close();
    qDebug() << "Welcome Guide indicator successfully stored";
}
