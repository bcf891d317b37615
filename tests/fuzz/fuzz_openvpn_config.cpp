// An OpenVPN configuration from the provider through the allowlist both programs check it with. What passes
// must pass again unchanged, hold only the bytes and line lengths OpenVPN reads as we do, and bring no remote.
#include "fuzz/fuzzsupport.h"

#include "common/openvpnconfig.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const OpenVpnConfig::Result result = OpenVpnConfig::check(Fuzz::bytes(data, size));
    if (result.ok != result.refusal.isEmpty())
        std::abort();
    if (!result.ok)
        return 0;
    const OpenVpnConfig::Result again = OpenVpnConfig::check(result.text);
    if (!again.ok || again.text != result.text || !again.remotes.isEmpty() || !again.dropped.isEmpty())
        std::abort();
    for (const QByteArray &line : result.text.split('\n')) {
        QList<QByteArray> words;
        if (line.size() > OpenVpnConfig::MaxLineBytes || !OpenVpnConfig::tokenize(line, &words) ||
            line.contains('\r') || line.contains('\0'))
            std::abort();
        // A word read back from its quoted form is the same word.
        for (const QByteArray &word : words) {
            QList<QByteArray> back;
            if (!OpenVpnConfig::tokenize(OpenVpnConfig::quoted(word), &back) || back != QList<QByteArray>{word})
                std::abort();
        }
    }
    return 0;
}
