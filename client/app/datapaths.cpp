#include "app/datapaths.h"

#include <QDir>
#include <QFileInfo>

DataPaths::DataPaths(const QString &name) : m_name(name) {}

QString DataPaths::dataFile(const QString &fileName) const
{
    return m_dir + QStringLiteral("/Data/") + fileName;
}

QString DataPaths::logFile() const
{
    return dataFile(m_name + QStringLiteral(".log"));
}
QString DataPaths::settingsFile() const
{
    return dataFile(m_name + QStringLiteral(".xml"));
}
QString DataPaths::tokenFile() const
{
    return dataFile(m_name + QStringLiteral(".token"));
}
QString DataPaths::localeFile() const
{
    return dataFile(QStringLiteral("locale.config"));
}
QString DataPaths::popupFile() const
{
    return dataFile(QStringLiteral("review.config"));
}
QString DataPaths::welcomeFile() const
{
    return dataFile(QStringLiteral("welcome.config"));
}
QString DataPaths::intervalFile() const
{
    return dataFile(QStringLiteral("interval.config"));
}
QString DataPaths::ikev2Folder() const
{
    return dataFile(QStringLiteral("ikev2"));
}
QString DataPaths::diagnosticsScript() const
{
    return dataFile(QStringLiteral("getdata.bat"));
}
QString DataPaths::diagnosticsOutput() const
{
    return dataFile(QStringLiteral("output.txt"));
}
QString DataPaths::supportDataFile() const
{
    return dataFile(QStringLiteral("supportdata.log"));
}

QString DataPaths::translationFile(const QString &code) const
{
    return m_dir + QStringLiteral("/language/") + QStringLiteral("language_") + code;
}

bool EnsureParentDir(const QString &filePath)
{
    return QDir().mkpath(QFileInfo(filePath).absolutePath());
}
