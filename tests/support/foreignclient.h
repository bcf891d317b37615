#pragma once

// A client of a loopback TCP port that runs as another user: a child process that takes that user's ids
// before it opens its connections, so the server sees them owned by that user. Ended (SIGKILL) and reaped
// when the object goes. Needs root; the child uses system calls only.

#include <QByteArray>
#include <QTest>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class ForeignClient
{
public:
    static constexpr uid_t Nobody = 65534;

    ForeignClient() = default;
    ~ForeignClient()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_pipe >= 0)
            ::close(m_pipe);
    }
    ForeignClient(const ForeignClient &) = delete;
    ForeignClient &operator=(const ForeignClient &) = delete;

    // Opens `connections` connections to port as uid, sends bytes on each and passes on what arrives on the
    // first until the server ends it; the others stay open until the object goes.
    bool start(uid_t uid, quint16 port, const QByteArray &bytes, int connections = 1)
    {
        int ends[2];
        if (::pipe(ends) != 0)
            return false;
        m_pid = ::fork();
        if (m_pid == 0) {
            // Nothing of the parent's stays open in the child (its sockets would outlive their closing there).
            for (int fd = 3; fd < 1024; ++fd) {
                if (fd != ends[1])
                    ::close(fd);
            }
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid_t(uid)) != 0 || ::setuid(uid) != 0)
                ::_exit(2);
            int first = -1;
            for (int i = 0; i < connections; ++i) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(port);
                address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0)
                    ::_exit(3);
                // A connection the server has refused meanwhile takes nothing: no signal, and on to the next.
                ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
                first = first < 0 ? fd : first;
            }
            char buffer[512];
            ssize_t length = 0;
            while ((length = ::read(first, buffer, sizeof(buffer))) > 0)
                if (::write(ends[1], buffer, size_t(length)) != length)
                    ::_exit(4);
            ::close(ends[1]);
            ::pause();
            ::_exit(0);
        }
        ::close(ends[1]);
        m_pipe = ends[0];
        ::fcntl(m_pipe, F_SETFL, O_NONBLOCK);
        return m_pid > 0;
    }

    // What the first connection received until the server ended it, the event loop running meanwhile (the
    // server may live in this process); "(not ended)" when it was not ended within timeoutMs.
    QByteArray answer(int timeoutMs = 30000)
    {
        const bool ended = QTest::qWaitFor(
            [&] {
                char buffer[512];
                ssize_t length = 0;
                while ((length = ::read(m_pipe, buffer, sizeof(buffer))) > 0)
                    m_received.append(buffer, int(length));
                return length == 0;
            },
            timeoutMs);
        return ended ? m_received : m_received + "(not ended)";
    }

private:
    pid_t m_pid = -1;
    int m_pipe = -1;
    QByteArray m_received;
};
