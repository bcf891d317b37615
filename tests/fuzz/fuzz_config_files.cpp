// The client's own files as it reads them back: settings, popup state, welcome mark, network-wait interval
// and locale. The first byte picks the reader, the rest is the file.
#include "fuzz/fuzzsupport.h"

#include "app/configuration.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString path = Fuzz::scratchDir() + QStringLiteral("/file");
    Fuzz::writeFile(path, Fuzz::bytes(data + 1, size - 1));
    Configuration config;
    switch (data[0] % 5) {
    case 0:
        config.ReadSettingsFile(path);
        break;
    case 1:
        config.ReadPopupFile(path);
        break;
    case 2:
        IsWelcomeGuideAlreadyShown(path);
        break;
    case 3: {
        const int seconds = ReadNetworkWaitInterval(path);
        if (seconds < 1 || seconds > 600)
            std::abort();
        break;
    }
    default:
        ReadLocaleCode(path);
    }
    return 0;
}
