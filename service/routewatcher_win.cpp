#include "service/routewatcher.h"

#include "service/toolrunner.h"

// winsock2.h before windows.h, and both before the IP helper headers.
#include <winsock2.h>

#include <windows.h>

#include <ws2tcpip.h>

#include <iphlpapi.h>
#include <netioapi.h>

#include <QMetaObject>

RouteWatcher::~RouteWatcher() = default;

namespace {

// NotifyRouteChange2: Windows calls back on a thread of its own; the notice reaches the watcher's thread
// through its event loop.
class IpHelperRouteWatcher : public RouteWatcher
{
public:
    ~IpHelperRouteWatcher() override { stop(); }

    bool start() override
    {
        if (m_handle)
            return true;
        const DWORD result = NotifyRouteChange2(AF_UNSPEC, &IpHelperRouteWatcher::changed, this, FALSE, &m_handle);
        if (result != NO_ERROR) {
            ToolLog(QStringLiteral("Route changes cannot be watched: %1").arg(result));
            m_handle = nullptr;
            return false;
        }
        return true;
    }

    void stop() override
    {
        // Returns once no callback runs any more.
        if (m_handle)
            CancelMibChangeNotify2(m_handle);
        m_handle = nullptr;
    }

    bool isActive() const override { return m_handle != nullptr; }

private:
    static VOID NETIOAPI_API_ changed(PVOID context, PMIB_IPFORWARD_ROW2 row, MIB_NOTIFICATION_TYPE type)
    {
        if (!row || type != MibAddInstance || row->DestinationPrefix.PrefixLength != 0)
            return;
        auto *watcher = static_cast<IpHelperRouteWatcher *>(context);
        QMetaObject::invokeMethod(
            watcher, [watcher] { emit watcher->defaultRouteAdded(); }, Qt::QueuedConnection);
    }

    HANDLE m_handle = nullptr;
};

} // namespace

std::unique_ptr<RouteWatcher> CreateSystemRouteWatcher()
{
    return std::make_unique<IpHelperRouteWatcher>();
}
