#pragma once

#include <QList>
#include <QString>

#include "app/apptypes.h"

class QDomDocument;
class QDomElement;

// The user's settings and popup state; the settings and popup files mirror it.
class Configuration
{
public:
    bool highDpiScreen = false;
    ProtocolType protocol = Automatic;
    LoginMethod loginMethod = LoginEmail;
    int autoProtocolIndex = 0;
    QList<int> autoProtocolOrder;
    bool smartServerList = true;
    bool b2bServerList = true;
    QString lastUsedServer;
    QString favoriteServer;
    bool autoLaunch = false;
    bool minimizeToTray = true;
    bool remindAboutConnection = true;
    bool autoConnect = false;
    bool connectToFavorite = false;
    bool connectToNearest = false;
    bool killSwitch = false;
    bool dnsLeakFix = false;
    bool reviewShown = false;
    int reviewConnectionCount = 0;
    QString reviewAppVersion;
    bool inviteShown = false;
    int inviteConnectionCount = 0;
    QString inviteAppVersion;

    void ReadSettingsFile(const QString &path);
    bool WriteSettingsFile(const QString &path) const;
    void ReadPopupFile(const QString &path);
    bool WritePopupFile(const QString &path) const;

    // The same on the data folder's files.
    void LoadSettings();
    void SaveSettings();
    void LoadPopupState();
    void SavePopupState() const;

private:
    void readFlags(const QDomElement &root);
    void readLoginMethod(const QDomElement &root);
    void resetPopupFields();
};

bool IsWelcomeGuideAlreadyShown();
bool IsWelcomeGuideAlreadyShown(const QString &path);
// Seconds between start-up network checks: 1..600 from the file, else 15.
int ReadNetworkWaitInterval(const QString &path);
// The interface language code, "en" when the file cannot be opened.
QString ReadLocaleCode(const QString &path);
