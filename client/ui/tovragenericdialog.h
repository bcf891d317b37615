#pragma once

#include <QTimer>
#include <QWidget>
#include <memory>

namespace Ui {
class TovraGenericDialog;
}

// The reusable message and question popup. The choice is signalled 50 ms after the dialog closed; a new Setup drops
// a choice not yet signalled. The title is plain text, the text may hold links.
class TovraGenericDialog : public QWidget
{
    Q_OBJECT

public:
    // Button modes of Setup.
    enum Buttons { PrimaryOnly = 0, SecondaryOnly = 1, BothButtons = 2 };

    explicit TovraGenericDialog(QWidget *parent = nullptr);
    ~TovraGenericDialog() override;

    void Setup(const QString &title, const QString &text, const QString &primaryText, const QString &secondaryText,
               int buttons);
    void SetLabels(const QString &title, const QString &text);
    void SetPrimaryText(const QString &text);
    void SetSecondaryText(const QString &text);

signals:
    void PrimaryPressed();
    void SecondaryPressed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private slots:
    void OnPrimaryPressed();

private:
    std::unique_ptr<Ui::TovraGenericDialog> ui;
    // How the open dialog was closed; kept per dialog so that one popup cannot flip another's answer.
    bool m_primaryChosen = false;
    bool m_answerPrimary = false;
    QTimer m_answerTimer;
};
