#include "app/configuration.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QSaveFile>
#include <QTextStream>
#include <QXmlStreamWriter>

#include "app/appcontext.h"
#include "app/datapaths.h"

namespace {

// The first line of a one-line file, or a null string when it cannot be opened or its line runs past
// maxChars (a file without line ends is not read whole).
QString readShortLine(const QString &path)
{
    constexpr qint64 maxChars = 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    const QString line = QTextStream(&file).readLine(maxChars + 1);
    if (line.size() > maxChars) {
        qDebug().noquote() << "Line of" << path << "longer than" << maxChars << "characters; ignored";
        return QString();
    }
    return line.isNull() ? QStringLiteral("") : line;
}

QString flag(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

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
        qDebug().noquote() << QStringLiteral("Error occurs when trying to read settings: ") + message +
                                  QStringLiteral(" Line: ") + QString::number(line) + QStringLiteral(" Column: ") +
                                  QString::number(column);
        return false;
    }
    return true;
}

// Replaces the file in one step, so a failed write leaves the old file whole.
template <typename Body>
bool saveDocument(const QString &path, Body body)
{
    // Attributes keep the order they are written in.
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartElement(QStringLiteral("Settings"));
    body(xml);
    xml.writeEndElement();
    bytes = bytes.trimmed() + '\n';

    // Unbuffered, so a short write (disk full) shows in write()'s result instead of being lost in a flush.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

void writeFlag(QXmlStreamWriter &xml, const QString &name, bool enabled)
{
    xml.writeEmptyElement(name);
    xml.writeAttribute(QStringLiteral("enabled"), flag(enabled));
}

// One popup element's three fields; defaults and false when the element is missing.
bool readPopup(const QDomElement &element, bool *shown, int *count, QString *version)
{
    *shown = !element.isNull() &&
             element.attribute(QStringLiteral("isAlreadyShown"), QStringLiteral("0")) == QLatin1String("1");
    bool ok = false;
    *count = element.attribute(QStringLiteral("connectionCount"), QStringLiteral("0")).toInt(&ok, 10);
    if (!ok)
        *count = 0;
    *version = element.attribute(QStringLiteral("appVersion"));
    return !element.isNull();
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
    readFlags(root);
    const QDomElement servers = root.firstChildElement(QStringLiteral("Servers"));
    if (!servers.isNull()) {
        lastUsedServer = servers.attribute(QStringLiteral("lastUsed"));
        favoriteServer = servers.attribute(QStringLiteral("favorite"));
    }
    readLoginMethod(root);
}

void Configuration::readFlags(const QDomElement &root)
{
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
}

// Older files say Facebook or not with a FacebookLogin element; LoginMethod wins when both are there.
void Configuration::readLoginMethod(const QDomElement &root)
{
    const QDomElement login = root.firstChildElement(QStringLiteral("LoginMethod"));
    if (!login.isNull()) {
        loginMethod = LoginMethodFromString(login.attribute(QStringLiteral("type"), QStringLiteral("EMAIL")));
        return;
    }
    const QDomElement facebook = root.firstChildElement(QStringLiteral("FacebookLogin"));
    const bool viaFacebook =
        !facebook.isNull() && facebook.attribute(QStringLiteral("enabled"), QStringLiteral("0")) == QLatin1String("1");
    loginMethod = viaFacebook ? LoginFacebook : LoginEmail;
}

bool Configuration::WriteSettingsFile(const QString &path) const
{
    const bool saved = saveDocument(path, [this](QXmlStreamWriter &xml) {
        xml.writeEmptyElement(QStringLiteral("Connection"));
        xml.writeAttribute(QStringLiteral("type"), ProtocolToString(protocol));
        writeFlag(xml, QStringLiteral("SmartServerList"), smartServerList);
        writeFlag(xml, QStringLiteral("B2bServerList"), b2bServerList);
        xml.writeEmptyElement(QStringLiteral("Servers"));
        xml.writeAttribute(QStringLiteral("lastUsed"), lastUsedServer);
        xml.writeAttribute(QStringLiteral("favorite"), favoriteServer);
        writeFlag(xml, QStringLiteral("AutoLaunch"), autoLaunch);
        writeFlag(xml, QStringLiteral("MinimizeToTray"), minimizeToTray);
        writeFlag(xml, QStringLiteral("RemindAboutConnection"), remindAboutConnection);
        writeFlag(xml, QStringLiteral("AutoConnect"), autoConnect);
        writeFlag(xml, QStringLiteral("FavoriteServer"), connectToFavorite);
        writeFlag(xml, QStringLiteral("NearestServer"), connectToNearest);
        writeFlag(xml, QStringLiteral("KillSwitch"), killSwitch);
        writeFlag(xml, QStringLiteral("DnsLeakFix"), dnsLeakFix);
        xml.writeEmptyElement(QStringLiteral("LoginMethod"));
        xml.writeAttribute(QStringLiteral("type"), LoginMethodToString(loginMethod));
    });
    if (!saved)
        qDebug() << "Can't save settings to file";
    return saved;
}

void Configuration::resetPopupFields()
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
        resetPopupFields();
    } else {
        const QDomElement root = doc.documentElement();
        if (!readPopup(root.firstChildElement(QStringLiteral("ReviewPopup")), &reviewShown, &reviewConnectionCount,
                       &reviewAppVersion))
            qDebug() << "Review popup xml element not found, review variables set to default values.";
        if (!readPopup(root.firstChildElement(QStringLiteral("InvitePopup")), &inviteShown, &inviteConnectionCount,
                       &inviteAppVersion))
            qDebug() << "Invite popup xml element not found, invite variables set to default values.";
    }
    const auto popupLine = [](const char *name, bool shown, int count, const QString &version) -> QString {
        return QLatin1String(name) + QStringLiteral(" popup variables: isAlreadyShown: ") +
               (shown ? QStringLiteral("true") : QStringLiteral("false")) + QStringLiteral(" Connection count: ") +
               QString::number(count) + QStringLiteral(" App version: ") + version;
    };
    qDebug().noquote() << popupLine("Review", reviewShown, reviewConnectionCount, reviewAppVersion);
    qDebug().noquote() << popupLine("Invite", inviteShown, inviteConnectionCount, inviteAppVersion);
}

bool Configuration::WritePopupFile(const QString &path) const
{
    const auto writePopup = [](QXmlStreamWriter &xml, const QString &name, bool shown, int count,
                               const QString &version) {
        xml.writeEmptyElement(name);
        xml.writeAttribute(QStringLiteral("isAlreadyShown"), flag(shown));
        xml.writeAttribute(QStringLiteral("connectionCount"), QString::number(count));
        xml.writeAttribute(QStringLiteral("appVersion"), version);
    };
    const bool saved = saveDocument(path, [&](QXmlStreamWriter &xml) {
        writePopup(xml, QStringLiteral("ReviewPopup"), reviewShown, reviewConnectionCount, reviewAppVersion);
        writePopup(xml, QStringLiteral("InvitePopup"), inviteShown, inviteConnectionCount, inviteAppVersion);
    });
    if (!saved)
        qDebug() << "Can't save review popup settings to file.";
    return saved;
}

void Configuration::LoadSettings()
{
    ReadSettingsFile(AppContext::instance()->dataPaths()->settingsFile());
}

void Configuration::SaveSettings()
{
    const QString path = AppContext::instance()->dataPaths()->settingsFile();
    EnsureParentDir(path);
    WriteSettingsFile(path);
    ReadSettingsFile(path);
}

void Configuration::LoadPopupState()
{
    ReadPopupFile(AppContext::instance()->dataPaths()->popupFile());
}

void Configuration::SavePopupState() const
{
    WritePopupFile(AppContext::instance()->dataPaths()->popupFile());
}

bool IsWelcomeGuideAlreadyShown()
{
    return IsWelcomeGuideAlreadyShown(AppContext::instance()->dataPaths()->welcomeFile());
}

bool IsWelcomeGuideAlreadyShown(const QString &path)
{
    return readShortLine(path).trimmed() == QLatin1String("false");
}

int ReadNetworkWaitInterval(const QString &path)
{
    constexpr int defaultSeconds = 15;
    bool ok = false;
    const int seconds = readShortLine(path).trimmed().toInt(&ok, 10);
    if (!ok || seconds < 1 || seconds > 600)
        return defaultSeconds;
    qDebug().noquote() << QStringLiteral("Custom interval found, waiting time set to %1 seconds.").arg(seconds);
    return seconds;
}

QString ReadLocaleCode(const QString &path)
{
    const QString line = readShortLine(path);
    return line.isNull() ? QStringLiteral("en") : line;
}
