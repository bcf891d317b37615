#include "common/openvpnconfig.h"

#include <QRegularExpression>

#include <algorithm>
#include <iterator>

namespace {

// Argument patterns; every argument of a directive must match its pattern in full.
const char Number[] = "[0-9]{1,9}";
const char Name[] = "[A-Za-z0-9_:.+-]{1,200}"; // ciphers, digests, curves and their lists
const char Text[] = "[ -~]{1,250}";            // printable text that names no file

struct Directive
{
    const char *name;
    int minArgs, maxArgs;
    const char *first;          // pattern of the first argument
    const char *rest = nullptr; // of the others; the first one's when unset
};

// Client directives a provider's configuration needs; none of them reads or writes a file, starts a program,
// opens a socket of its own choosing or loads code.
// clang-format off
const Directive Directives[] = {
    {"client", 0, 0, ""}, {"tls-client", 0, 0, ""}, {"pull", 0, 0, ""}, {"nobind", 0, 0, ""},
    {"persist-key", 0, 0, ""}, {"persist-tun", 0, 0, ""}, {"persist-remote-ip", 0, 0, ""},
    {"persist-local-ip", 0, 0, ""}, {"float", 0, 0, ""}, {"fast-io", 0, 0, ""}, {"auth-nocache", 0, 0, ""},
    {"auth-user-pass", 0, 0, ""}, {"route-nopull", 0, 0, ""}, {"block-outside-dns", 0, 0, ""},
    {"block-ipv6", 0, 0, ""}, {"disable-dco", 0, 0, ""}, {"mute-replay-warnings", 0, 0, ""},
    {"ping-timer-rem", 0, 0, ""}, {"push-peer-info", 0, 0, ""}, {"tcp-nodelay", 0, 0, ""},
    {"tun-ipv6", 0, 0, ""},
    {"dev", 1, 1, "(tun|tap)[0-9]{0,3}"}, {"dev-type", 1, 1, "tun|tap"},
    {"proto", 1, 1, "udp[46]?|tcp[46]?(-client)?"}, {"topology", 1, 1, "subnet|net30|p2p"},
    {"resolv-retry", 1, 1, "infinite|[0-9]{1,9}"}, {"connect-retry", 1, 2, Number},
    {"connect-retry-max", 1, 1, Number}, {"connect-timeout", 1, 1, Number},
    {"server-poll-timeout", 1, 1, Number}, {"ping", 1, 1, Number}, {"ping-restart", 1, 1, Number},
    {"ping-exit", 1, 1, Number}, {"keepalive", 2, 2, Number}, {"inactive", 1, 2, Number},
    {"hand-window", 1, 1, Number}, {"tran-window", 1, 1, Number}, {"tls-timeout", 1, 1, Number},
    {"reneg-sec", 1, 2, Number}, {"reneg-bytes", 1, 1, Number}, {"reneg-pkts", 1, 1, Number},
    {"replay-window", 1, 2, Number}, {"sndbuf", 1, 1, Number}, {"rcvbuf", 1, 1, Number},
    {"txqueuelen", 1, 1, Number}, {"tcp-queue-limit", 1, 1, Number}, {"tun-mtu", 1, 1, Number},
    {"tun-mtu-extra", 1, 1, Number}, {"link-mtu", 1, 1, Number}, {"mssfix", 0, 2, "[0-9]{1,9}", "mtu|fixed"},
    {"fragment", 1, 2, "[0-9]{1,9}", "mtu"}, {"mtu-disc", 1, 1, "no|maybe|yes"},
    {"route-delay", 0, 2, Number}, {"route-metric", 1, 1, Number}, {"explicit-exit-notify", 0, 1, Number},
    {"verb", 1, 1, Number}, {"mute", 1, 1, Number},
    {"cipher", 1, 1, Name}, {"data-ciphers", 1, 1, Name}, {"data-ciphers-fallback", 1, 1, Name},
    {"auth", 1, 1, Name}, {"tls-cipher", 1, 1, Name}, {"tls-ciphersuites", 1, 1, Name},
    {"tls-groups", 1, 1, Name}, {"ecdh-curve", 1, 1, Name},
    {"tls-version-min", 1, 2, "1\\.[0-3]", "or-highest"}, {"tls-version-max", 1, 1, "1\\.[0-3]"},
    {"tls-cert-profile", 1, 1, "legacy|preferred|suiteb"}, {"remote-cert-tls", 1, 1, "server"},
    {"remote-cert-ku", 1, 9, "[0-9a-fA-F]{1,4}"}, {"remote-cert-eku", 1, 1, Text},
    {"verify-x509-name", 1, 2, Text, "subject|name|name-prefix"}, {"key-direction", 1, 1, "0|1"},
    {"comp-lzo", 0, 1, "yes|no|adaptive"}, {"compress", 0, 1, "lz4|lz4-v2|lzo|stub|stub-v2|migrate"},
    {"allow-compression", 1, 1, "yes|no|asym"}, {"auth-retry", 1, 1, "none|nointeract|interact"},
    {"redirect-gateway", 0, 8, "def1|local|autolocal|bypass-dhcp|bypass-dns|block-local|ipv6|!ipv4"},
    {"pull-filter", 2, 2, "accept|ignore|reject", Text},
    {"windows-driver", 1, 1, "wintun|tap-windows6|ovpn-dco"}, {"socket-flags", 1, 1, "TCP_NODELAY"},
};
// clang-format on

// Key material that may come inline, never as a path.
const char *const InlineBlocks[] = {"ca", "cert", "key", "tls-auth", "tls-crypt", "tls-crypt-v2", "extra-certs"};

// Remote lines the configuration may not bring: the remote is the caller's own.
const char *const RemoteDirectives[] = {"remote", "remote-random", "remote-random-hostname"};

template <typename List>
bool listed(const List &list, const QByteArray &name)
{
    return std::any_of(std::begin(list), std::end(list), [&](const char *entry) { return name == entry; });
}

const Directive *findDirective(const QByteArray &name)
{
    const auto found =
        std::find_if(std::begin(Directives), std::end(Directives), [&](const Directive &d) { return name == d.name; });
    return found == std::end(Directives) ? nullptr : found;
}

bool matches(const char *pattern, const QByteArray &word)
{
    const QRegularExpression expression(QRegularExpression::anchoredPattern(QLatin1String(pattern)));
    return expression.match(QString::fromLatin1(word)).hasMatch();
}

bool argumentsFit(const Directive &directive, const QByteArrayList &words)
{
    const int args = words.size() - 1;
    if (args < directive.minArgs || args > directive.maxArgs)
        return false;
    for (int i = 1; i < words.size(); ++i) {
        if (!matches(i > 1 && directive.rest ? directive.rest : directive.first, words.at(i)))
            return false;
    }
    return true;
}

// A name fit to go into a log line or a reply: nothing from the configuration that could read as something else.
QString shown(const QByteArray &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.<>/-]{1,64}$"));
    const QString text = QString::fromLatin1(name);
    return plain.match(text).hasMatch() ? QLatin1Char('"') + text + QLatin1Char('"') : QStringLiteral("(unreadable)");
}

// A line of PEM or OpenVPN static-key text: a boundary, base64 or hex, a comment or nothing.
bool isKeyText(const QByteArray &line)
{
    static const QRegularExpression keyLine(
        QStringLiteral("^(-----(BEGIN|END) [A-Za-z0-9 ]{1,60}-----|[A-Za-z0-9+/=]{1,80}|#[ -~]*|)$"));
    return keyLine.match(QString::fromLatin1(line.trimmed())).hasMatch();
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

namespace OpenVpnConfig {

bool tokenize(const QByteArray &line, QList<QByteArray> *words)
{
    enum State { Initial, Unquoted, Quoted, SingleQuoted } state = Initial;
    words->clear();
    QByteArray word;
    bool backslash = false;
    // The end of the line counts as a blank, as OpenVPN's own reader takes its terminating NUL.
    for (int i = 0; i <= line.size(); ++i) {
        const char in = i < line.size() ? line.at(i) : ' ';
        const bool blank = isBlank(in) || i == line.size();
        char out = 0;
        bool done = false;
        if (!backslash && in == '\\' && state != SingleQuoted && i < line.size()) {
            backslash = true;
            continue;
        }
        if (state == Initial) {
            if (!blank) {
                if (in == '#' || in == ';')
                    break;
                if (!backslash && in == '"')
                    state = Quoted;
                else if (!backslash && in == '\'')
                    state = SingleQuoted;
                else {
                    out = in;
                    state = Unquoted;
                }
            }
        } else if (state == Unquoted) {
            if (!backslash && blank)
                done = true;
            else
                out = in;
        } else if (state == Quoted) {
            if (!backslash && in == '"')
                done = true;
            else
                out = in;
        } else if (in == '\'') {
            done = true;
        } else {
            out = in;
        }
        // Only a backslash, a double quote and a blank may be escaped.
        if (backslash && out && !(out == '\\' || out == '"' || isBlank(out)))
            return false;
        if (backslash && i == line.size())
            return false;
        backslash = false;
        if (done) {
            *words << word;
            word.clear();
            state = Initial;
        } else if (out) {
            word += out;
        }
    }
    return state == Initial && !backslash;
}

QByteArray quoted(const QByteArray &word)
{
    QByteArray escaped = word;
    escaped.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + escaped + '"';
}

bool isHostName(const QByteArray &host)
{
    static const QRegularExpression name(QStringLiteral(
        "^([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?\\.)*[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    static const QRegularExpression ipv6(QStringLiteral("^[0-9A-Fa-f:.]{2,45}$"));
    const QString text = QString::fromLatin1(host);
    return host.size() <= 253 && (name.match(text).hasMatch() || (host.contains(':') && ipv6.match(text).hasMatch()));
}

Result check(const QByteArray &config)
{
    Result result;
    const auto refuse = [&result](int line, const QString &why) {
        result.refusal = QStringLiteral("OpenVPN configuration refused: line %1: ").arg(line) + why;
        result.text.clear();
        return result;
    };
    for (int i = 0; i < config.size(); ++i) {
        const uchar c = uchar(config.at(i));
        if (!((c >= 0x20 && c < 0x7f) || c == '\t' || c == '\n'))
            return refuse(config.left(i).count('\n') + 1,
                          QStringLiteral("byte 0x%1 is not allowed").arg(int(c), 2, 16, QLatin1Char('0')));
    }

    const QByteArrayList lines = config.split('\n');
    QByteArray blockEnd; // while inside an inline block: its closing tag
    bool dropBlock = false;
    bool seenDirective = false;
    for (int n = 0; n < lines.size(); ++n) {
        const QByteArray &line = lines.at(n);
        const int number = n + 1;
        // The piece after a final line feed is no line of its own.
        if (n == lines.size() - 1 && line.isEmpty())
            break;
        if (line.size() > MaxLineBytes)
            return refuse(number, QStringLiteral("longer than %1 bytes").arg(MaxLineBytes));
        if (!blockEnd.isEmpty()) {
            // OpenVPN ends the block at the first line that starts with the closing tag after blanks.
            const QByteArray trimmed = line.trimmed();
            if (trimmed.startsWith(blockEnd)) {
                if (trimmed != blockEnd)
                    return refuse(number, QStringLiteral("text after ") + shown(blockEnd));
                blockEnd.clear();
                if (dropBlock)
                    continue;
            } else if (!dropBlock && !isKeyText(line)) {
                return refuse(number, QStringLiteral("not key text inside an inline block"));
            }
            if (!dropBlock)
                result.text += line + '\n';
            continue;
        }

        QByteArrayList words;
        if (!tokenize(line, &words))
            return refuse(number, QStringLiteral("unbalanced quote or stray backslash"));
        if (words.isEmpty()) {
            result.text += line + '\n';
            continue;
        }
        QByteArray name = words.first();
        if (name.size() >= 3 && name.startsWith("--"))
            name.remove(0, 2);
        const bool firstDirective = !seenDirective;
        seenDirective = true;
        if (words.size() == 1 && name.size() > 2 && name.startsWith('<') && name.endsWith('>')) {
            const QByteArray block = name.mid(1, name.size() - 2);
            blockEnd = "</" + block + '>';
            dropBlock = block == "connection";
            if (dropBlock) {
                result.dropped << QStringLiteral("Dropped configuration directive: <connection>");
                continue;
            }
            if (!listed(InlineBlocks, block))
                return refuse(number, QStringLiteral("inline block ") + shown(name) + QStringLiteral(" not allowed"));
            result.text += line + '\n';
            continue;
        }
        if (listed(RemoteDirectives, name)) {
            result.dropped << QStringLiteral("Dropped configuration directive: ") + QString::fromLatin1(name);
            words.first() = name;
            result.remotes << words;
            result.remoteFirst = result.remoteFirst || (firstDirective && name == "remote");
            continue;
        }
        const Directive *directive = findDirective(name);
        if (!directive)
            return refuse(number, QStringLiteral("directive ") + shown(name) + QStringLiteral(" not allowed"));
        if (!argumentsFit(*directive, words))
            return refuse(number, QStringLiteral("arguments of ") + shown(name) + QStringLiteral(" not allowed"));
        result.text += line + '\n';
    }
    if (!blockEnd.isEmpty())
        return refuse(lines.size(), QStringLiteral("no closing ") + shown(blockEnd));
    result.ok = true;
    return result;
}

} // namespace OpenVpnConfig
