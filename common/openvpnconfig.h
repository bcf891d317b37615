#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Reads an OpenVPN client configuration the way OpenVPN reads it and lets through only what a provider's
// configuration needs: directives without file, program, socket or plugin side effects, and key material as
// inline blocks. Both programs check with it: the client to fail early, the helper before it writes the file
// OpenVPN runs as root.
namespace OpenVpnConfig {

// OpenVPN reads a configuration line into 256 bytes (line feed and NUL included) and takes the rest of a
// longer line as a line of its own.
constexpr int MaxLineBytes = 254;

// The words of one line (no line feed) as OpenVPN splits them: blanks separate words, a quote ends a word and
// starts or ends a quoted one, a backslash escapes a backslash, a double quote or a blank, '#' or ';' at the
// start of a word ends the line. False when OpenVPN would reject the line (an open quote, a stray backslash).
bool tokenize(const QByteArray &line, QList<QByteArray> *words);

// A word in OpenVPN's quotes, so that it is read back as one word exactly.
QByteArray quoted(const QByteArray &word);

// A host name or an IPv4 or IPv6 literal that OpenVPN can take as a remote.
bool isHostName(const QByteArray &host);

struct Result
{
    bool ok = false;
    QString refusal;               // why not, as one log line
    QStringList dropped;           // one log line per remote line or connection block taken out
    QByteArray text;               // the accepted lines, each ending in a line feed, without what was dropped
    QList<QByteArrayList> remotes; // the words of the remote lines taken out, in their order
    bool remoteFirst = false;      // the first directive of the configuration is a remote line
};

// Checks a whole configuration; any byte other than printable ASCII, tab and line feed (a carriage return
// among them) refuses it.
Result check(const QByteArray &config);

} // namespace OpenVpnConfig
