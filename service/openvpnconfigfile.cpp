#include "service/openvpnconfigfile.h"

#include "common/openvpnconfig.h"
#include "service/gatewaystate.h"
#include "service/privatefile.h"

#include <QDir>

#include <algorithm>

namespace {

const QLatin1String Success("SRV SUCCESS OVPN CONFIG: ");
const QLatin1String Error("SRV ERROR OVPN CONFIG: ");

bool decode(const QByteArray &text, QByteArray *bytes)
{
    const QByteArray::FromBase64Result result =
        QByteArray::fromBase64Encoding(text, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    *bytes = result.decoded;
    return bool(result);
}

// Goes into the file OpenVPN reads its management password from, and back over the management channel.
bool isPassword(const QByteArray &password)
{
    return password.size() >= OpenVpnConfigFile::MinPasswordBytes &&
           password.size() <= OpenVpnConfigFile::MaxPasswordBytes &&
           std::all_of(password.begin(), password.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

} // namespace

OpenVpnConfigFile::OpenVpnConfigFile(const QString &dir)
    : m_dir(dir), m_configPath(QDir(dir).filePath(QStringLiteral("conn.ovpn"))),
      m_passwordPath(QDir(dir).filePath(QStringLiteral("conn.pw")))
{}

QString OpenVpnConfigFile::run(const QByteArray &line, QString *log) const
{
    const auto refuse = [log](const QString &why) {
        *log = QStringLiteral("OpenVPN configuration not written: ") + why;
        return Error + why;
    };
    const QByteArrayList parts = line.split(' ');
    QByteArray config, password;
    if (parts.size() != 3 || parts.at(0) != Command || !decode(parts.at(1), &config) || !decode(parts.at(2), &password))
        return refuse(QStringLiteral("malformed command"));
    if (!isPassword(password))
        return refuse(QStringLiteral("unusable management password"));
    if (m_dir.isEmpty())
        return refuse(QStringLiteral("no state folder"));

    const OpenVpnConfig::Result checked = OpenVpnConfig::check(config);
    if (!checked.ok)
        return refuse(checked.refusal);
    // Exactly the client's own remote, first: the kill switch admits that server only.
    const QByteArrayList remote = checked.remotes.value(0);
    if (checked.remotes.size() != 1 || checked.dropped.size() != 1 || !checked.remoteFirst || remote.size() != 3 ||
        !OpenVpnConfig::isHostName(remote.at(1)) || remote.at(2) != "443")
        return refuse(QStringLiteral("the configuration must start with the one remote line, port 443"));

    const QByteArray text =
        "management 127.0.0.1 52025 " + OpenVpnConfig::quoted(QDir::toNativeSeparators(m_passwordPath).toUtf8()) +
        "\nmanagement-query-passwords\nmanagement-hold\nremote " + remote.at(1) + " 443\n" + checked.text;
    if (!PrepareStateDir(m_dir) || !ReplacePrivateFile(m_passwordPath, password + '\n') ||
        !ReplacePrivateFile(m_configPath, text))
        return refuse(QStringLiteral("cannot write ") + QDir::toNativeSeparators(m_configPath));
    *log = QStringLiteral("OpenVPN configuration written: ") + QDir::toNativeSeparators(m_configPath);
    return Success + QStringLiteral("configuration written");
}
