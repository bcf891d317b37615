#include "service/routewatcher.h"

#include "service/toolrunner.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

RouteWatcher::~RouteWatcher() = default;

namespace {

// The kernel's route notices (rtnetlink groups RTNLGRP_IPV4_ROUTE and RTNLGRP_IPV6_ROUTE) on a socket the
// event loop watches.
class NetlinkRouteWatcher : public RouteWatcher
{
public:
    ~NetlinkRouteWatcher() override { stop(); }

    bool start() override
    {
        if (m_fd >= 0)
            return true;
        m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
        sockaddr_nl address;
        std::memset(&address, 0, sizeof address);
        address.nl_family = AF_NETLINK;
        address.nl_groups = RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ToolLog(QStringLiteral("Route changes cannot be watched: ") + QString::fromLocal8Bit(strerror(errno)));
            stop();
            return false;
        }
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readNotices(); });
        return true;
    }

    void stop() override
    {
        m_notifier.reset();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool isActive() const override { return m_fd >= 0; }

private:
    void readNotices()
    {
        bool added = false;
        alignas(nlmsghdr) char buffer[16384];
        while (true) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got < 0 && errno == ENOBUFS) {
                // Notices were lost: look at the tables anyway.
                added = true;
                continue;
            }
            if (got <= 0)
                break;
            const size_t length = size_t(got);
            size_t offset = 0;
            while (offset + sizeof(nlmsghdr) <= length) {
                auto *header = reinterpret_cast<nlmsghdr *>(buffer + offset);
                if (header->nlmsg_len < sizeof(nlmsghdr) || header->nlmsg_len > length - offset)
                    break;
                if (header->nlmsg_type == RTM_NEWROUTE && header->nlmsg_len >= NLMSG_LENGTH(sizeof(rtmsg)) &&
                    static_cast<rtmsg *>(NLMSG_DATA(header))->rtm_dst_len == 0)
                    added = true;
                offset += NLMSG_ALIGN(header->nlmsg_len);
            }
        }
        if (added)
            emit defaultRouteAdded();
    }

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace

std::unique_ptr<RouteWatcher> CreateSystemRouteWatcher()
{
    return std::make_unique<NetlinkRouteWatcher>();
}
