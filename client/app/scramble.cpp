#include "app/scramble.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>

namespace {

const char base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Eight letters A..Y from one draw of a per-thread generator (25^8 < 2^64); the log is written from two threads.
void randomLetters(char *letters)
{
    thread_local std::uint64_t state = [] {
        std::random_device device;
        const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        return (std::uint64_t(device()) << 32 ^ device() ^ now) | 1;
    }();
    // xorshift64*
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    std::uint64_t value = state * 0x2545F4914F6CDD1DULL;
    for (int i = 0; i < 8; ++i) {
        letters[i] = char('A' + value % 25);
        value /= 25;
    }
}

// Base64 of bytes[0..size) written backwards, last character first, into out[0..4 * ceil(size / 3)).
template <typename Byte>
void reversedBase64(const Byte *bytes, int size, char *out)
{
    char *end = out + (size + 2) / 3 * 4;
    int i = 0;
    for (; i + 2 < size; i += 3) {
        const unsigned group = unsigned(bytes[i]) << 16 | unsigned(bytes[i + 1]) << 8 | unsigned(bytes[i + 2]);
        end[-1] = base64Alphabet[group >> 18];
        end[-2] = base64Alphabet[(group >> 12) & 63];
        end[-3] = base64Alphabet[(group >> 6) & 63];
        end[-4] = base64Alphabet[group & 63];
        end -= 4;
    }
    if (i < size) {
        const bool two = i + 1 < size;
        const unsigned group = unsigned(bytes[i]) << 16 | (two ? unsigned(bytes[i + 1]) << 8 : 0u);
        end[-1] = base64Alphabet[group >> 18];
        end[-2] = base64Alphabet[(group >> 12) & 63];
        end[-3] = two ? base64Alphabet[(group >> 6) & 63] : '=';
        end[-4] = '=';
    }
}

void appendScrambledBytes(QByteArray &out, const char *letters, const void *bytes, int size, bool wide)
{
    const int start = out.size();
    const int bodySize = (size + 2) / 3 * 4;
    out.resize(start + 8 + bodySize);
    char *data = out.data() + start;
    std::copy(letters, letters + 4, data);
    if (wide)
        reversedBase64(static_cast<const char16_t *>(bytes), size, data + 4);
    else
        reversedBase64(static_cast<const unsigned char *>(bytes), size, data + 4);
    std::copy(letters + 4, letters + 8, data + 4 + bodySize);
}

} // namespace

void AppendScrambled(QByteArray &out, const QString &text)
{
    char letters[8];
    randomLetters(letters);
    // ASCII text is its own UTF-8: encode straight from the UTF-16 units.
    const char16_t *units = reinterpret_cast<const char16_t *>(text.utf16());
    const int size = text.size();
    if (std::all_of(units, units + size, [](char16_t unit) { return unit < 0x80; })) {
        appendScrambledBytes(out, letters, units, size, true);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    appendScrambledBytes(out, letters, utf8.constData(), utf8.size(), false);
}

QString ScrambleText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve((text.size() + 2) / 3 * 4 + 8);
    AppendScrambled(bytes, text);
    return QString::fromLatin1(bytes);
}

QString UnscrambleText(const QString &text)
{
    QString body = text.mid(4);
    body.chop(4);
    std::reverse(body.begin(), body.end());
    QByteArray bytes = QByteArray::fromBase64(body.toLatin1());
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QString result;
    const QString decoded = QString::fromUtf8(bytes);
    result.reserve(decoded.size());
    for (const QChar c : decoded) {
        if (c == QLatin1Char('\n'))
            result.append(QLatin1String("\r\n"));
        else
            result.append(c);
    }
    return result;
}
