#include "ui/tovramainwindow.h"
#include "ui_tovramainwindow.h"

#include <QTimer>

#include "app/tovraapplication.h"

TovraMainWindow::TovraMainWindow(QWidget *parent) : QMainWindow(parent), ui(std::make_unique<Ui::TovraMainWindow>())
{
    ui->setupUi(this);
    if (auto *app = qobject_cast<TovraApplication *>(QCoreApplication::instance())) {
        connect(app, &TovraApplication::Exit, app, &QCoreApplication::quit);
        connect(app, &TovraApplication::Activate, this, &TovraMainWindow::OnOpen);
        connect(app, &QCoreApplication::aboutToQuit, this, &TovraMainWindow::OnExit);
    }
    QTimer::singleShot(100, this, &TovraMainWindow::Initialize);
}

TovraMainWindow::~TovraMainWindow() = default;

void TovraMainWindow::Initialize() {}

void TovraMainWindow::OnOpen()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TovraMainWindow::OnExit() {}
