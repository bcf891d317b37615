// HTTPS server that keeps the raw request head of every request, so the
// headers can be reported in the order the client sent them.
#pragma once

#include <httplib.h>

#include <string>

namespace provider {

class TlsServer : public httplib::SSLServer
{
public:
    TlsServer(const char *certPath, const char *keyPath);

    // Bytes read so far for the request being handled on the calling thread:
    // request line, header lines, blank line and the body read so far.
    static const std::string &currentRawRequest();
    // Socket of the connection handled on the calling thread, or -1.
    static int currentSocket();

private:
    bool process_and_close_socket(socket_t sock) override;
};

} // namespace provider
