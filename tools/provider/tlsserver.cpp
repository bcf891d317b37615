#include "tlsserver.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace provider {

namespace {

thread_local std::string tCapture;
thread_local int tSocket = -1;

constexpr int kIoTimeoutMs = 5000;

bool waitFor(int sock, short events, int timeoutMs)
{
    pollfd pfd{sock, events, 0};
    int rc;
    do {
        rc = ::poll(&pfd, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0 && (pfd.revents & (events | POLLHUP | POLLERR));
}

void addressOf(const sockaddr_storage &addr, std::string &ip, int &port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (addr.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&addr);
        ::inet_ntop(AF_INET, &in->sin_addr, text, sizeof(text));
        port = ntohs(in->sin_port);
    } else if (addr.ss_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&addr);
        ::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text));
        port = ntohs(in6->sin6_port);
    }
    ip = text;
}

// TLS stream over a blocking socket that copies every byte it reads into the
// thread's capture buffer.
class CapturingStream : public httplib::Stream
{
public:
    CapturingStream(int sock, SSL *ssl) : m_sock(sock), m_ssl(ssl) {}

    bool is_readable() const override { return SSL_pending(m_ssl) > 0 || waitFor(m_sock, POLLIN, kIoTimeoutMs); }
    bool is_writable() const override { return waitFor(m_sock, POLLOUT, kIoTimeoutMs); }

    ssize_t read(char *ptr, size_t size) override
    {
        if (!is_readable())
            return -1;
        const int n = SSL_read(m_ssl, ptr, static_cast<int>(std::min<size_t>(size, 1 << 20)));
        if (n <= 0)
            return -1;
        tCapture.append(ptr, static_cast<size_t>(n));
        return n;
    }

    ssize_t write(const char *ptr, size_t size) override
    {
        size_t done = 0;
        while (done < size) {
            if (!is_writable())
                return -1;
            const int n = SSL_write(m_ssl, ptr + done, static_cast<int>(std::min<size_t>(size - done, 1 << 20)));
            if (n <= 0)
                return -1;
            done += static_cast<size_t>(n);
        }
        return static_cast<ssize_t>(size);
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage addr{};
        socklen_t len = sizeof(addr);
        if (::getpeername(m_sock, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            addressOf(addr, ip, port);
    }
    void get_local_ip_and_port(std::string &ip, int &port) const override
    {
        sockaddr_storage addr{};
        socklen_t len = sizeof(addr);
        if (::getsockname(m_sock, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
            addressOf(addr, ip, port);
    }
    socket_t socket() const override { return m_sock; }

private:
    int m_sock;
    SSL *m_ssl;
};

} // namespace

TlsServer::TlsServer(const char *certPath, const char *keyPath) : httplib::SSLServer(certPath, keyPath) {}

const std::string &TlsServer::currentRawRequest()
{
    return tCapture;
}

int TlsServer::currentSocket()
{
    return tSocket;
}

bool TlsServer::process_and_close_socket(socket_t sock)
{
    // Blocking socket with time limits, so a silent peer cannot hold a worker forever.
    timeval tv{kIoTimeoutMs / 1000, 0};
    ::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
    ::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));

    bool ok = false;
    SSL *ssl = SSL_new(ssl_context());
    if (ssl && SSL_set_fd(ssl, sock) == 1 && SSL_accept(ssl) == 1) {
        CapturingStream stream(sock, ssl);
        tCapture.clear();
        tSocket = sock;
        bool closed = false;
        // One request per connection: the answer carries "Connection: close".
        ok = process_request(stream, true, closed, nullptr);
        SSL_shutdown(ssl);
    }
    tSocket = -1;
    ERR_clear_error();
    if (ssl)
        SSL_free(ssl);
    tCapture.clear();
    tCapture.shrink_to_fit();
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

} // namespace provider
