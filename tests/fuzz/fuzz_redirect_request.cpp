// The browser's redirect request as the sign-in listener reads it: whether a request line is in, the text up
// to the first zero byte, its first line and the code parameter the providers take.
#include "fuzz/fuzzsupport.h"

#include "api/oauthredirect.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QCoreApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray request = Fuzz::bytes(data, size);
    const bool complete = OAuthRedirect::hasRequestLine(request);
    const QString line = OAuthRedirect::requestLine(OAuthRedirect::requestText(request));
    if (line.contains(QLatin1Char('\n')) || (!complete && !line.isEmpty()))
        std::abort();
    const QString code = OAuthRedirect::codePart(line);
    if (!code.isEmpty() && (!code.startsWith(QLatin1String("code=")) || !line.contains(code)))
        std::abort();
    return 0;
}
