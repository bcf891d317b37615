#pragma once

#include <QString>

enum ProtocolType { Automatic = 0, OpenVPN = 1, IKEv2 = 2, L2TP = 3, PPTP = 4 };

enum LoginMethod { LoginEmail = 0, LoginFacebook = 1, LoginGoogle = 2 };

QString ProtocolToString(int protocol);
ProtocolType ProtocolFromString(const QString &text);
QString LoginMethodToString(int method);
LoginMethod LoginMethodFromString(const QString &text);

// The version of the version resource, or an empty text when it cannot be read.
QString ReadAppVersion();
// "4.1.5.71" -> "4.1.5 (71)".
QString FormatVersion(const QString &version);
