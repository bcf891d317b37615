#pragma once

#include <QByteArray>
#include <QString>

// The configuration OpenVPN runs as root (the system account), written by the helper only: the client's text
// checked again, behind the helper's own management lines, with the management password in a file beside it.
class OpenVpnConfigFile
{
public:
    static constexpr const char *Command = "OVPN_CONFIG";
    static constexpr int MinPasswordBytes = 16;
    static constexpr int MaxPasswordBytes = 128;

    explicit OpenVpnConfigFile(const QString &dir);

    QString configPath() const { return m_configPath; }
    QString passwordPath() const { return m_passwordPath; }

    // Runs "OVPN_CONFIG <base64 configuration> <base64 password>" (the line without its line feed); the reply
    // line, and in *log what the service log should say.
    QString run(const QByteArray &line, QString *log) const;

private:
    QString m_dir;
    QString m_configPath;
    QString m_passwordPath;
};
