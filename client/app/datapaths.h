#pragma once

#include <QString>

// Builds the paths of every file the client keeps; never touches the disk.
class DataPaths
{
public:
    explicit DataPaths(const QString &name);

    void setDir(const QString &dir) { m_dir = dir; }
    QString dir() const { return m_dir; }
    QString name() const { return m_name; }

    QString logFile() const;
    QString settingsFile() const;
    QString tokenFile() const;
    QString localeFile() const;
    QString popupFile() const;
    QString welcomeFile() const;
    QString intervalFile() const;
    // strongSwan's folder: its strongswan.conf, its runtime folder and the connection it is given.
    QString ikev2Folder() const;
    QString diagnosticsScript() const;
    QString diagnosticsOutput() const;
    QString supportDataFile() const;
    QString translationFile(const QString &code) const;

private:
    QString dataFile(const QString &fileName) const;

    QString m_name;
    QString m_dir;
};

// Creates the folder that holds filePath, with all missing parents.
bool EnsureParentDir(const QString &filePath);
