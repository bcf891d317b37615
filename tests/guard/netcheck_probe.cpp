// Runs the two network checks where it is started (the test starts it inside network namespaces).
#include <QCoreApplication>
#include <cstdio>

#include "api/tovraipmanager.h"

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString host = app.arguments().value(1, QStringLiteral("127.0.0.1"));
    std::fflush(stdout);
    std::printf("connected=%d ping=%d\n", IsInternetConnected() ? 1 : 0, CheckActiveNetwork(host) ? 1 : 0);
    return 0;
}
