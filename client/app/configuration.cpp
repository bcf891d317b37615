#include "app/configuration.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>

#include "app/appcontext.h"
#include "app/datapaths.h"

namespace {

QString flag(bool value) { return value ? QStringLiteral("1") : QStringLiteral("0"); }

bool parseFile(const QString &path, QDomDocument *doc, bool *opened)
{
    QFile file(path);
    *opened = file.open(QIODevice::ReadOnly | QIODevice::Text);
    if (!*opened)
        return false;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc->setContent(&file, &message, &line, &column)) {
        qDebug() << "Error occurs when trying to read settings: " << message << "Line: " << line
                 << "Column: " << column;
        return false;
    }
    return true;
}

// Replaces the file in one step, so a failed write leaves the old file whole.
bool saveDocument(const QString &path, const QDomDocument &doc)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    doc.save(stream, 4);
    stream.flush();
    return file.commit();
}

QDomElement addElement(QDomDocument &doc, QDomElement &root, const QString &name)
{
    QDomElement element = doc.createElement(name);
    root.appendChild(element);
    return element;
}

struct BoolElement
{
    const char *name;
    bool Configuration::*field;
    const char *attributeDefault;
    bool absentDefault;
};

} // namespace

void Configuration::ReadSettingsFile(const QString &path)
{
    QDomDocument doc;
    bool opened = false;
    if (!parseFile(path, &doc, &opened)) {
        if (!opened)
            qDebug() << "Can't open settings file.";
        return;
    }
    const QDomElement root = doc.documentElement();

    const QDomElement connection = root.firstChildElement(QStringLiteral("Connection"));
    if (!connection.isNull())
        protocol = ProtocolFromString(connection.attribute(QStringLiteral("type"), QStringLiteral("Auto")));

    // Read in this order: the reminder's absent default is the value just read for minimize-to-tray.
    static const BoolElement elements[] = {
        {"SmartServerList", &Configuration::smartServerList, "1", true},
        {"B2bServerList", &Configuration::b2bServerList, "1", true},
        {"AutoLaunch", &Configuration::autoLaunch, "0", false},
        {"MinimizeToTray", &Configuration::minimizeToTray, "1", true},
        {"RemindAboutConnection", &Configuration::remindAboutConnection, "1", true},
        {"AutoConnect", &Configuration::autoConnect, "0", false},
        {"FavoriteServer", &Configuration::connectToFavorite, "0", false},
        {"NearestServer", &Configuration::connectToNearest, "0", false},
        {"KillSwitch", &Configuration::killSwitch, "0", false},
        {"DnsLeakFix", &Configuration::dnsLeakFix, "0", false},
    };
    for (const BoolElement &entry : elements) {
        const QDomElement element = root.firstChildElement(QLatin1String(entry.name));
        if (!element.isNull())
            this->*entry.field = element.attribute(QStringLiteral("enabled"), QLatin1String(entry.attributeDefault)) ==
                                 QLatin1String("1");
        else if (entry.field == &Configuration::remindAboutConnection)
            remindAboutConnection = minimizeToTray;
        else
            this->*entry.field = entry.absentDefault;
    }

    const QDomElement servers = root.firstChildElement(QStringLiteral("Servers"));
    if (!servers.isNull()) {
        lastUsedServer = servers.attribute(QStringLiteral("lastUsed"));
        favoriteServer = servers.attribute(QStringLiteral("favorite"));
    }

    const QDomElement login = root.firstChildElement(QStringLiteral("LoginMethod"));
    if (!login.isNull()) {
        loginMethod = LoginMethodFromString(login.attribute(QStringLiteral("type"), QStringLiteral("EMAIL")));
    } else {
        const QDomElement facebook = root.firstChildElement(QStringLiteral("FacebookLogin"));
        const bool viaFacebook =
            !facebook.isNull() && facebook.attribute(QStringLiteral("enabled"), QStringLiteral("0")) == QLatin1String("1");
        loginMethod = viaFacebook ? LoginFacebook : LoginEmail;
    }
}

bool Configuration::WriteSettingsFile(const QString &path) const
{
    QDomDocument doc;
    QDomElement root = doc.createElement(QStringLiteral("Settings"));
    doc.appendChild(root);
    addElement(doc, root, QStringLiteral("Connection")).setAttribute(QStringLiteral("type"), ProtocolToString(protocol));
    addElement(doc, root, QStringLiteral("SmartServerList")).setAttribute(QStringLiteral("enabled"), flag(smartServerList));
    addElement(doc, root, QStringLiteral("B2bServerList")).setAttribute(QStringLiteral("enabled"), flag(b2bServerList));
    QDomElement servers = addElement(doc, root, QStringLiteral("Servers"));
    servers.setAttribute(QStringLiteral("lastUsed"), lastUsedServer);
    servers.setAttribute(QStringLiteral("favorite"), favoriteServer);
    addElement(doc, root, QStringLiteral("AutoLaunch")).setAttribute(QStringLiteral("enabled"), flag(autoLaunch));
    addElement(doc, root, QStringLiteral("MinimizeToTray")).setAttribute(QStringLiteral("enabled"), flag(minimizeToTray));
    addElement(doc, root, QStringLiteral("RemindAboutConnection"))
        .setAttribute(QStringLiteral("enabled"), flag(remindAboutConnection));
    addElement(doc, root, QStringLiteral("AutoConnect")).setAttribute(QStringLiteral("enabled"), flag(autoConnect));
    addElement(doc, root, QStringLiteral("FavoriteServer")).setAttribute(QStringLiteral("enabled"), flag(connectToFavorite));
    addElement(doc, root, QStringLiteral("NearestServer")).setAttribute(QStringLiteral("enabled"), flag(connectToNearest));
    addElement(doc, root, QStringLiteral("KillSwitch")).setAttribute(QStringLiteral("enabled"), flag(killSwitch));
    addElement(doc, root, QStringLiteral("DnsLeakFix")).setAttribute(QStringLiteral("enabled"), flag(dnsLeakFix));
    addElement(doc, root, QStringLiteral("LoginMethod")).setAttribute(QStringLiteral("type"), LoginMethodToString(loginMethod));

    if (!saveDocument(path, doc)) {
        qDebug() << "Can't save settings to file";
        return false;
    }
    return true;
}

void Configuration::ResetPopupFields()
{
    reviewShown = false;
    reviewConnectionCount = 0;
    reviewAppVersion.clear();
    inviteShown = false;
    inviteConnectionCount = 0;
    inviteAppVersion.clear();
}

void Configuration::ReadPopupFile(const QString &path)
{
    QDomDocument doc;
    bool opened = false;
    if (!parseFile(path, &doc, &opened)) {
        if (!opened)
            qDebug() << "Can't open popup settings file. Popup variables set to default values.";
        else
            qDebug() << "Popup variables set to default values.";
        ResetPopupFields();
    } else {
        const QDomElement root = doc.documentElement();
        const auto readPopup = [&root](const QString &name, bool *shown, int *count, QString *version) {
            const QDomElement element = root.firstChildElement(name);
            if (element.isNull()) {
                *shown = false;
                *count = 0;
                version->clear();
                return false;
            }
            *shown = element.attribute(QStringLiteral("isAlreadyShown"), QStringLiteral("0")) == QLatin1String("1");
            bool ok = false;
            *count = element.attribute(QStringLiteral("connectionCount"), QStringLiteral("0")).toInt(&ok, 10);
            if (!ok)
                *count = 0;
            *version = element.attribute(QStringLiteral("appVersion"));
            return true;
        };
        if (!readPopup(QStringLiteral("ReviewPopup"), &reviewShown, &reviewConnectionCount, &reviewAppVersion))
            qDebug() << "Review popup xml element not found, review variables set to default values.";
        if (!readPopup(QStringLiteral("InvitePopup"), &inviteShown, &inviteConnectionCount, &inviteAppVersion))
            qDebug() << "Invite popup xml element not found, invite variables set to default values.";
    }
    qDebug() << "Review popup variables: isAlreadyShown:" << reviewShown
             << "Connection count:" << reviewConnectionCount << "App version: " << reviewAppVersion;
    qDebug() << "Invite popup variables: isAlreadyShown:" << inviteShown
             << "Connection count:" << inviteConnectionCount << "App version: " << inviteAppVersion;
}

bool Configuration::WritePopupFile(const QString &path) const
{
    QDomDocument doc;
    QDomElement root = doc.createElement(QStringLiteral("Settings"));
    doc.appendChild(root);
    QDomElement review = addElement(doc, root, QStringLiteral("ReviewPopup"));
    review.setAttribute(QStringLiteral("isAlreadyShown"), flag(reviewShown));
    review.setAttribute(QStringLiteral("connectionCount"), QString::number(reviewConnectionCount));
    review.setAttribute(QStringLiteral("appVersion"), reviewAppVersion);
    QDomElement invite = addElement(doc, root, QStringLiteral("InvitePopup"));
    invite.setAttribute(QStringLiteral("isAlreadyShown"), flag(inviteShown));
    invite.setAttribute(QStringLiteral("connectionCount"), QString::number(inviteConnectionCount));
    invite.setAttribute(QStringLiteral("appVersion"), inviteAppVersion);
    if (!saveDocument(path, doc)) {
        qDebug() << "Can't save review popup settings to file.";
        return false;
    }
    return true;
}

void Configuration::LoadSettings() { ReadSettingsFile(AppContext::instance()->dataPaths()->settingsFile()); }

void Configuration::SaveSettings()
{
    const QString path = AppContext::instance()->dataPaths()->settingsFile();
    EnsureParentDir(path);
    WriteSettingsFile(path);
    ReadSettingsFile(path);
}

void Configuration::LoadPopupState() { ReadPopupFile(AppContext::instance()->dataPaths()->popupFile()); }

void Configuration::SavePopupState() const { WritePopupFile(AppContext::instance()->dataPaths()->popupFile()); }

bool IsWelcomeGuideAlreadyShown() { return IsWelcomeGuideAlreadyShown(AppContext::instance()->dataPaths()->welcomeFile()); }

bool IsWelcomeGuideAlreadyShown(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    return QTextStream(&file).readLine().trimmed() == QLatin1String("false");
}

int ReadNetworkWaitInterval(const QString &path)
{
    constexpr int defaultSeconds = 15;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return defaultSeconds;
    bool ok = false;
    const int seconds = QTextStream(&file).readLine().trimmed().toInt(&ok, 10);
    if (!ok || seconds < 1 || seconds > 600)
        return defaultSeconds;
    qDebug() << "Custom interval found, waiting time set to" << seconds << "seconds.";
    return seconds;
}

QString ReadLocaleCode(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QStringLiteral("en");
    return QTextStream(&file).readLine();
}
