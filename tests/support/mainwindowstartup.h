#pragma once

#include <QAbstractState>
#include <QLabel>
#include <QStateMachine>

#include "app/appcontext.h"
#include "servers/tovraservermanager.h"
#include "ui/tovragenericdialog.h"
#include "ui/tovramainwindow.h"

// A main window whose start-up answers come from the test: its network checks pass and the start-up
// requests are never sent.
inline void detachStartupRequests(TovraMainWindow *window)
{
    window->setStartupNetworkChecks([] { return true; }, [] { return true; });
    for (QAbstractState *state : window->stateMachine()->findChildren<QAbstractState *>())
        for (void (TovraMainWindow::*slot)() :
             {&TovraMainWindow::GetLocalIp, &TovraMainWindow::GetServersList, &TovraMainWindow::GetOpenVpnConfig,
              &TovraMainWindow::GetUpdateDataOnStart})
            QObject::disconnect(state, &QAbstractState::entered, window, slot);
}

// The start-up answers, in the order the sign-in flow gives them.
inline void answerStartup(TovraMainWindow *window)
{
    emit window->UserDataReceived();
    emit window->LocalIpUpdated();
    emit AppContext::instance()->serverManager()->ServersUpdated();
    emit window->OpenVpnConfigUpdated();
    emit window->UpdateDataReceived();
}

// Title of the window's message dialog while it shows, or empty.
inline QString shownPopupTitle(TovraMainWindow *window)
{
    TovraGenericDialog *dialog = window->messageDialog();
    return dialog->isVisible() ? dialog->findChild<QLabel *>(QStringLiteral("titleLabel"))->text() : QString();
}
