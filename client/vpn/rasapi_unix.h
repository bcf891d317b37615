#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "vpn/rasapi.h"

// The Linux RAS backend: IKEv2 through strongSwan's charon, run as a registered service ("IKEv2Service", see
// scripts/register-ikev2-service) in a mount namespace of its own and driven with swanctl. L2TP/IPSec and
// PPTP are not available on Linux.
struct StrongSwanSettings
{
    QString serviceName = QStringLiteral("IKEv2Service");
    QString registryDir; // empty: the service controller's default
    // Holds strongswan.conf and run/, which the registration binds over /etc/strongswan.conf and /run, and the
    // connection handed to charon before each dial.
    QString folder;
    // CA certificates trusted for the server's certificate besides the system's store.
    QStringList caFiles;
    QString systemCaDir = QStringLiteral("/etc/ssl/certs"); // the system's store; empty for none
    // A server that does not answer is given up after the first IKE retransmit waited this long and the
    // others 1.4 times longer each.
    int retransmitTimeoutMs = 1000;
    int retransmitTries = 3;
    int dpdDelaySeconds = 10;    // liveness checks of an established tunnel
    int startWaitMs = 10000;     // for charon's control socket after its start
    int initiateLimitMs = 30000; // longest wait for an outcome of the dial
};

// Settings of the installed client: the data folder's ikev2 folder and the build's CA file.
StrongSwanSettings DefaultStrongSwanSettings();
std::unique_ptr<RasApi> CreateStrongSwanRasApi(const StrongSwanSettings &settings);

namespace StrongSwan {
// Error codes of the dial besides those of rasapi.h.
constexpr quint32 ErrorRemoteDisconnection = 629;   // ERROR_REMOTE_DISCONNECTION
constexpr quint32 ErrorAuthenticationFailure = 691; // ERROR_AUTHENTICATION_FAILURE
constexpr quint32 ErrorServiceCannotStart = 711;    // ERROR_RASMAN_CANNOT_INITIALIZE
constexpr quint32 ErrorNoAnswer = 809;              // ERROR_VPN_TIMEOUT
constexpr quint32 ErrorCertificateRefused = 13801;  // ERROR_IPSEC_IKE_AUTH_FAIL
constexpr quint32 ErrorNegotiationFailed = 13868;   // ERROR_IPSEC_IKE_POLICY_MATCH
constexpr quint32 ExtendedServerNotResponding = 650;

// The dial's error and extended error for charon's log lines of a failed initiation.
quint32 classifyFailure(const QStringList &lines, quint32 *extendedError);
} // namespace StrongSwan
