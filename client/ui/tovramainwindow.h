#pragma once

#include <QMainWindow>
#include <memory>

namespace Ui {
class TovraMainWindow;
}

class TovraMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit TovraMainWindow(QWidget *parent = nullptr);
    ~TovraMainWindow() override;

public slots:
    void Initialize();
    void OnOpen();
    void OnExit();

private:
    std::unique_ptr<Ui::TovraMainWindow> ui;
};
