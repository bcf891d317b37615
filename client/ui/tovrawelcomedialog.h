#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class TovraWelcomeDialog;
}

// The four-page guide shown on first use.
class TovraWelcomeDialog : public QWidget
{
    Q_OBJECT

public:
    explicit TovraWelcomeDialog(QWidget *parent = nullptr);
    ~TovraWelcomeDialog() override;

    int page() const { return m_page; }

public slots:
    void OnSkipButtonPressed();
    void OnBackButtonPressed();
    void OnNextButtonPressed();
    void LoadImage(int imageNumber);
    void SaveIndicator();

protected:
    void showEvent(QShowEvent *event) override;

private:
    std::unique_ptr<Ui::TovraWelcomeDialog> ui;
    int m_page = 1;
};
