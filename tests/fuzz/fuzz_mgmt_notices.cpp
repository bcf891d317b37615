// OpenVPN's management notices through the tunnel manager's rules. The input is a run of socket reads,
// separated by zero bytes, converted as the management channel converts them; bit 0 of the first byte turns
// the kill switch on.
#include "fuzz/fuzzsupport.h"

#include "app/appcontext.h"
#include "support/fakeservicecontroller.h"
#include "vpn/openvpnmanager.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::init<QGuiApplication>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    AppContext::instance()->config()->killSwitch = data[0] & 1;
    OpenVpnManager manager(std::make_unique<FakeServiceController>(QStringLiteral("OpenVPNService")));
    // A disconnect waits for OpenVPN's exit; here nothing comes, so the waits are kept short.
    manager.setTimings({1, 1, 1, 1});
    manager.SetCredentials(QStringLiteral("user"), QStringLiteral("password"));
    const QList<QByteArray> reads = Fuzz::bytes(data + 1, size - 1).split('\0');
    for (const QByteArray &read : reads) {
        if (!QMetaObject::invokeMethod(&manager, "ProcessManagementOutput", Qt::DirectConnection,
                                       Q_ARG(QString, QString::fromLocal8Bit(read))))
            std::abort();
    }
    return 0;
}
